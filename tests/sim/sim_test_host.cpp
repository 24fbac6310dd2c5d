#include "sim/sim_test_host.h"

#include <cstring>

#include <gtest/gtest.h>

std::atomic<SimTestHost*> SimTestHost::s_active{nullptr};

SimPtr makeSim(std::string_view text, SimSettings base) {
    std::string error;
    const bool parsed = parseSimSettings("pace=freewheel," + std::string(text), base, &error);
    EXPECT_TRUE(parsed) << error;
    return SimPtr(parsed ? createLoopbackSimulator(base) : nullptr);
}

HostChannels HostChannels::all(const SimSettings& settings) {
    HostChannels channels;
    for (int i = 0; i < settings.inputs; ++i) {
        channels.inputs.push_back(i);
    }
    for (int o = 0; o < settings.outputs; ++o) {
        channels.outputs.push_back(o);
    }
    return channels;
}

SimTestHost::SimTestHost(LoopbackSimulator& driver, ASIOLong bufferSize, int switches,
                         HostChannels channels)
    : m_driver(driver)
    , m_bufferSize(bufferSize)
    , m_switches(switches)
    , m_layout(layoutOf(driver.settings().sampleType))
    , m_halfBytes(static_cast<std::size_t>(bufferSize * m_layout.bytes))
    , m_inputCount(channels.inputs.size())
    , m_callbacks{&SimTestHost::bufferSwitch, &SimTestHost::sampleRateDidChange,
                  &SimTestHost::asioMessage, &SimTestHost::bufferSwitchTimeInfo} {
    for (const int input : channels.inputs) {
        m_infos.push_back({ASIOTrue, input, {nullptr, nullptr}});
    }
    for (const int output : channels.outputs) {
        m_infos.push_back({ASIOFalse, output, {nullptr, nullptr}});
    }
    const std::size_t recorded = static_cast<std::size_t>(switches) * m_halfBytes;
    m_inputs.assign(channels.inputs.size(), std::vector<std::byte>(recorded));
    m_outputs.assign(channels.outputs.size(), std::vector<std::byte>(recorded));
    m_signals.resize(channels.outputs.size());
    m_halves.assign(static_cast<std::size_t>(switches), -1);
    s_active.store(this);
}

SimTestHost::~SimTestHost() {
    s_active.store(nullptr);
}

void SimTestHost::setOutputSignal(std::size_t outputSlot, std::vector<double> samples) {
    m_signals[outputSlot] = std::move(samples);
}

ASIOError SimTestHost::createBuffers() {
    const ASIOError result = m_driver.createBuffers(
        m_infos.data(), static_cast<ASIOLong>(m_infos.size()), m_bufferSize, &m_callbacks);
    m_buffersMade = result == ASE_OK;
    return result;
}

bool SimTestHost::run() {
    if (!m_buffersMade && createBuffers() != ASE_OK) {
        return false;
    }
    const bool started = m_driver.start() == ASE_OK;
    const bool finished = started && waitUntilDone();
    const bool disposed = m_driver.disposeBuffers() == ASE_OK;
    m_buffersMade = false;
    return finished && disposed;
}

bool SimTestHost::startAndWaitForSwitch(int switchNumber) {
    m_awaitedSwitch.store(switchNumber);
    return createBuffers() == ASE_OK && m_driver.start() == ASE_OK &&
           m_awaitedSwitchSeen.waitFor(kHostTimeout);
}

bool SimTestHost::staysQuiet() const {
    const int seen = m_switchesSeen.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return m_switchesSeen.load() == seen;
}

double SimTestHost::inputSample(std::size_t slot, std::int64_t n) const {
    return readNormalised(m_inputs[slot].data(), static_cast<int>(n), m_layout);
}

std::int64_t SimTestHost::firstAbove(std::size_t slot, double threshold) const {
    const auto samples = static_cast<std::int64_t>(m_switches) * m_bufferSize;
    for (std::int64_t n = 0; n < samples; ++n) {
        if (inputSample(slot, n) > threshold) {
            return n;
        }
    }
    return -1;
}

void SimTestHost::handleSwitch(ASIOLong half) {
    const int switchIndex = m_switchesSeen.load();
    if (switchIndex == 0) {
        m_switchThread = std::this_thread::get_id();
    }
    if (switchIndex < m_switches) {
        const auto k = static_cast<std::size_t>(switchIndex);
        m_halves[k] = half;
        const bool write = rewriteEverySwitch || switchIndex == 0;
        for (std::size_t o = 0; write && o < m_signals.size(); ++o) {
            void* buffer = m_infos[m_inputCount + o].buffers[half];
            for (ASIOLong i = 0; i < m_bufferSize; ++i) {
                const std::size_t n =
                    k * static_cast<std::size_t>(m_bufferSize) + static_cast<std::size_t>(i);
                const double value = n < m_signals[o].size() ? m_signals[o][n] : 0.0;
                writeNormalised(buffer, static_cast<int>(i), value, m_layout);
            }
            std::memcpy(m_outputs[o].data() + k * m_halfBytes, buffer, m_halfBytes);
        }
        for (std::size_t i = 0; i < m_inputCount; ++i) {
            std::memcpy(m_inputs[i].data() + k * m_halfBytes, m_infos[i].buffers[half],
                        m_halfBytes);
        }
    }
    m_driver.outputReady();
    if (onSwitch) {
        onSwitch(switchIndex);
    }
    m_switchesSeen.store(switchIndex + 1);
    if (switchIndex == m_awaitedSwitch.load()) {
        m_awaitedSwitchSeen.set();
    }
    if (switchIndex + 1 == m_switches) {
        m_driver.stop();
        m_done.set();
    }
}

void SimTestHost::bufferSwitch(ASIOLong half, ASIOBool /*directProcess*/) {
    s_active.load()->handleSwitch(half);
}

void SimTestHost::sampleRateDidChange(ASIOSampleRate rate) {
    SimTestHost& host = *s_active.load();
    host.eventThread = std::this_thread::get_id();
    host.switchesBeforeRateChange.store(host.m_switchesSeen.load());
    host.changedRate.store(rate);
    host.rateChanges.fetch_add(1);
}

ASIOLong SimTestHost::asioMessage(ASIOLong selector, ASIOLong /*value*/, void* /*message*/,
                                  double* /*opt*/) {
    SimTestHost& host = *s_active.load();
    host.eventThread = std::this_thread::get_id();
    if (selector == kAsioResetRequest) {
        host.switchesBeforeReset.store(host.m_switchesSeen.load());
        host.resetRequests.fetch_add(1);
        return 1;
    }
    return 0;
}

ASIOTime* SimTestHost::bufferSwitchTimeInfo(ASIOTime* /*params*/, ASIOLong /*half*/,
                                            ASIOBool /*direct*/) {
    return nullptr;
}
