#include "drivers/sim/loopback_sim.h"

#include "drivers/kit/double_buffers.h"
#include "drivers/sim/sim_stream.h"
#include "engine/buffer_sizes.h"
#include "engine/sample_format.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <stdexcept>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;

bool isOfferedSize(ASIOLong size, const SimSettings& s) {
    return size >= 1 && size <= kMaxSimBufferSize &&
           isWalkedBufferSize(size, s.minBufferSize, s.maxBufferSize, s.granularity);
}

std::string describeOfferedSizes(const SimSettings& s) {
    const std::string range =
        std::to_string(s.minBufferSize) + " to " + std::to_string(s.maxBufferSize);
    if (s.granularity == -1) {
        return range + ", doubling";
    }
    if (s.granularity > 0) {
        return range + " in steps of " + std::to_string(s.granularity);
    }
    return std::to_string(s.minBufferSize) + " only";
}

// Rounded up, so that N periods never add up to less than N buffers of audio.
Clock::duration periodOf(ASIOLong bufferSize, double sampleRate) {
    return std::chrono::ceil<Clock::duration>(
        std::chrono::duration<double>(bufferSize / sampleRate));
}

std::uint64_t nanosecondsOf(Clock::time_point time) {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count());
}

std::uint64_t takeStartNumber(const SimSettings& settings) {
    static std::atomic<std::uint64_t> processStarts{0};
    return (settings.startCounter ? *settings.startCounter : processStarts).fetch_add(1);
}

} // namespace

LoopbackSimulator* createLoopbackSimulator(const SimSettings& settings) {
    if (!validateSimSettings(settings, nullptr)) {
        return nullptr;
    }
    return new LoopbackSimulator(settings);
}

LoopbackSimulator::LoopbackSimulator(const SimSettings& settings)
    : DriverBase({kLoopbackSimClassId, kLoopbackSimName, kLoopbackSimVersion, "Internal"})
    , m_settings(settings)
    , m_callLog(settings.callLog ? settings.callLog : std::make_shared<SimCallLog>())
    , m_sampleRate(settings.sampleRate) {}

LoopbackSimulator::~LoopbackSimulator() {
    std::unique_lock lock(m_mutex);
    stopSwitchThread(lock);
}

void LoopbackSimulator::lastReleased() {
    m_callLog->append("Release");
    {
        const std::lock_guard lock(m_mutex);
        if (onSwitchThread()) {
            // The switch thread cannot join itself: it deletes the simulator once the host's
            // callback has returned.
            m_deleteWhenThreadEnds = true;
            requestStop();
            return;
        }
    }
    delete this;
}

ASIOBool LoopbackSimulator::init(void* /*sysHandle*/) {
    m_callLog->append("init");
    return m_settings.initResult;
}

ASIOError LoopbackSimulator::start() {
    m_callLog->append("start");
    if (m_settings.startFailure != ASE_OK) {
        return fail(m_settings.startFailure, "start: failure injected by the settings");
    }
    std::unique_lock lock(m_mutex);
    while (true) {
        if (!m_stream) {
            return fail(ASE_InvalidMode, "start: no buffers; call createBuffers first");
        }
        if (m_running) {
            return ASE_OK;
        }
        if (!m_threadActive && !m_thread.joinable()) {
            break;
        }
        if (onSwitchThread()) {
            return fail(ASE_InvalidMode,
                        "start: stopped inside bufferSwitch; start again after it returns");
        }
        reapSwitchThread(lock); // a run stopped from inside its callback, not yet joined
    }
    m_stream->rewind(m_sampleRate.load(), takeStartNumber(m_settings));
    ++m_starts;
    m_stopRequested = false;
    m_running = true;
    m_threadActive = true;
    try {
        m_thread = std::thread(&LoopbackSimulator::runSwitchThread, this, m_stream.get());
    } catch (const std::system_error&) {
        m_running = false;
        m_threadActive = false;
        return fail(ASE_HWMalfunction, "start: the switch thread could not be started");
    }
    m_switchThreadId = m_thread.get_id();
    return ASE_OK;
}

ASIOError LoopbackSimulator::stop() {
    m_callLog->append("stop");
    if (m_settings.stopFailure != ASE_OK) {
        return fail(m_settings.stopFailure, "stop: failure injected by the settings");
    }
    std::unique_lock lock(m_mutex);
    stopSwitchThread(lock);
    return ASE_OK;
}

ASIOError LoopbackSimulator::getChannels(ASIOLong* numInputChannels, ASIOLong* numOutputChannels) {
    m_callLog->append("getChannels");
    if (numInputChannels == nullptr || numOutputChannels == nullptr) {
        return fail(ASE_InvalidParameter, "getChannels: null pointer");
    }
    *numInputChannels = m_settings.inputs;
    *numOutputChannels = m_settings.outputs;
    return ASE_OK;
}

ASIOError LoopbackSimulator::getLatencies(ASIOLong* inputLatency, ASIOLong* outputLatency) {
    m_callLog->append("getLatencies");
    if (inputLatency == nullptr || outputLatency == nullptr) {
        return fail(ASE_InvalidParameter, "getLatencies: null pointer");
    }
    const std::lock_guard lock(m_mutex);
    const ASIOLong bufferSize = m_stream ? m_stream->bufferSize() : m_settings.preferredBufferSize;
    const SimSettings::Offsets offsets = m_settings.reportedOffsets();
    *inputLatency = bufferSize + offsets.input;
    *outputLatency = bufferSize + offsets.output;
    return ASE_OK;
}

ASIOError LoopbackSimulator::getBufferSize(ASIOLong* minSize, ASIOLong* maxSize,
                                           ASIOLong* preferredSize, ASIOLong* granularity) {
    m_callLog->append("getBufferSize");
    if (minSize == nullptr || maxSize == nullptr || preferredSize == nullptr ||
        granularity == nullptr) {
        return fail(ASE_InvalidParameter, "getBufferSize: null pointer");
    }
    *minSize = m_settings.minBufferSize;
    *maxSize = m_settings.maxBufferSize;
    *preferredSize = m_settings.preferredBufferSize;
    *granularity = m_settings.granularity;
    return ASE_OK;
}

bool LoopbackSimulator::isAcceptedRate(ASIOSampleRate sampleRate) const {
    const auto& rates = m_settings.acceptedRates;
    return std::find(rates.begin(), rates.end(), sampleRate) != rates.end();
}

ASIOError LoopbackSimulator::canSampleRate(ASIOSampleRate sampleRate) {
    m_callLog->append("canSampleRate");
    return isAcceptedRate(sampleRate) ? ASE_OK : ASE_NoClock;
}

ASIOError LoopbackSimulator::getSampleRate(ASIOSampleRate* sampleRate) {
    m_callLog->append("getSampleRate");
    if (sampleRate == nullptr) {
        return fail(ASE_InvalidParameter, "getSampleRate: null pointer");
    }
    *sampleRate = m_sampleRate.load();
    return ASE_OK;
}

ASIOError LoopbackSimulator::setSampleRate(ASIOSampleRate sampleRate) {
    m_callLog->append("setSampleRate");
    if (!isAcceptedRate(sampleRate)) {
        return fail(ASE_NoClock, "setSampleRate: the rate is not one the driver accepts");
    }
    m_sampleRate.store(sampleRate);
    return ASE_OK;
}

ASIOError LoopbackSimulator::getSamplePosition(ASIOSamples* samplePosition,
                                               ASIOTimeStamp* timeStamp) {
    if (samplePosition == nullptr || timeStamp == nullptr) {
        return ASE_InvalidParameter;
    }
    if (!m_advancing.load()) {
        return ASE_SPNotAdvancing;
    }
    std::uint32_t before = 0;
    std::uint64_t samples = 0;
    std::uint64_t nanoseconds = 0;
    do {
        before = m_positionSequence.load(std::memory_order_acquire);
        samples = m_positionSamples.load(std::memory_order_acquire);
        nanoseconds = m_positionNanoseconds.load(std::memory_order_acquire);
    } while ((before & 1) != 0 || before != m_positionSequence.load(std::memory_order_relaxed));
    *samplePosition = kit::splitCount(samples);
    *timeStamp = kit::splitCount(nanoseconds);
    return ASE_OK;
}

ASIOError LoopbackSimulator::getChannelInfo(ASIOChannelInfo* info) {
    m_callLog->append("getChannelInfo");
    if (const std::string why = kit::whyNoChannel(info, {m_settings.inputs, m_settings.outputs});
        !why.empty()) {
        return fail(ASE_InvalidParameter, "getChannelInfo: " + why);
    }
    const bool isInput = info->isInput != ASIOFalse;
    {
        const std::lock_guard lock(m_mutex);
        info->isActive =
            (m_stream && m_stream->isActive(isInput, info->channel)) ? ASIOTrue : ASIOFalse;
    }
    info->channelGroup = 0;
    info->type = m_settings.sampleType;
    const std::string name = (isInput ? "Sim In " : "Sim Out ") + std::to_string(info->channel + 1);
    kit::copyText(info->name, sizeof info->name, name);
    return ASE_OK;
}

ASIOError LoopbackSimulator::createBuffers(ASIOBufferInfo* bufferInfos, ASIOLong numChannels,
                                           ASIOLong bufferSize, ASIOCallbacks* callbacks) {
    m_callLog->append("createBuffers");
    const std::lock_guard lock(m_mutex);
    recordBufferRequest(bufferInfos, numChannels, bufferSize);
    if (m_settings.createBuffersFailure != ASE_OK) {
        return fail(m_settings.createBuffersFailure,
                    "createBuffers: failure injected by the settings");
    }
    if (m_stream) {
        return fail(ASE_InvalidMode,
                    "createBuffers: buffers exist already; call disposeBuffers first");
    }
    if (const std::string why = kit::whyRefused(
            bufferInfos, numChannels, callbacks, {m_settings.inputs, m_settings.outputs},
            isOfferedSize(bufferSize, m_settings)
                ? ""
                : "buffer size " + std::to_string(bufferSize) + " is not offered (" +
                      describeOfferedSizes(m_settings) + ")");
        !why.empty()) {
        return fail(ASE_InvalidParameter, "createBuffers: " + why);
    }
    try {
        auto stream = std::make_unique<SimStream>(m_settings, bufferInfos, numChannels, bufferSize,
                                                  *callbacks);
        stream->handOut(bufferInfos);
        m_stream = std::move(stream);
    } catch (const std::bad_alloc&) {
        return fail(ASE_NoMemory, "createBuffers: out of memory");
    } catch (const std::length_error& tooLong) {
        return fail(ASE_NoMemory, std::string("createBuffers: ") + tooLong.what());
    }
    return ASE_OK;
}

void LoopbackSimulator::recordBufferRequest(const ASIOBufferInfo* bufferInfos, ASIOLong numChannels,
                                            ASIOLong bufferSize) {
    m_lastRequest.bufferSize = bufferSize;
    m_lastRequest.channels.clear();
    if (bufferInfos == nullptr) {
        return;
    }
    // One record past every channel is enough to show a duplicate or an unknown channel; the
    // count itself may be absurd.
    const ASIOLong shown = std::min(numChannels, m_settings.inputs + m_settings.outputs + 1);
    for (ASIOLong i = 0; i < shown; ++i) {
        m_lastRequest.channels.push_back(
            {bufferInfos[i].isInput != ASIOFalse, bufferInfos[i].channelNum});
    }
}

ASIOError LoopbackSimulator::disposeBuffers() {
    m_callLog->append("disposeBuffers");
    std::unique_lock lock(m_mutex);
    if (!m_stream) {
        return fail(ASE_InvalidMode, "disposeBuffers: there are no buffers");
    }
    stopSwitchThread(lock);
    m_stream.reset();
    return ASE_OK;
}

ASIOError LoopbackSimulator::controlPanel() {
    m_callLog->append("controlPanel");
    if (m_settings.controlPanelHook) {
        m_settings.controlPanelHook();
    }
    return ASE_OK;
}

ASIOError LoopbackSimulator::outputReady() {
    m_outputReadyCount.fetch_add(1);
    return ASE_OK;
}

SimBufferRequest LoopbackSimulator::lastBufferRequest() const {
    const std::lock_guard lock(m_mutex);
    return m_lastRequest;
}

bool LoopbackSimulator::onSwitchThread() const {
    return m_threadActive && std::this_thread::get_id() == m_switchThreadId;
}

void LoopbackSimulator::requestStop() {
    m_running = false;
    m_stopRequested = true;
    m_advancing = false;
    m_threadChanged.notify_all();
}

void LoopbackSimulator::stopSwitchThread(std::unique_lock<std::mutex>& lock) {
    requestStop();
    while (!onSwitchThread() && (m_threadActive || m_thread.joinable())) {
        reapSwitchThread(lock);
        requestStop(); // another thread may have started a new run while this one waited
    }
}

void LoopbackSimulator::reapSwitchThread(std::unique_lock<std::mutex>& lock) {
    m_threadChanged.wait(lock, [this] { return !m_threadActive; });
    std::thread finished = std::move(m_thread);
    if (finished.joinable()) {
        lock.unlock();
        finished.join();
        lock.lock();
    }
}

void LoopbackSimulator::runSwitchThread(SimStream* stream) {
    const ASIOCallbacks& callbacks = stream->callbacks();
    const ASIOLong bufferSize = stream->bufferSize();
    // Switch k comes when the hardware period it serves begins.
    auto deadline = Clock::now() + periodOf(bufferSize, m_sampleRate.load()) * stream->periodOf(0);
    for (std::int64_t switchIndex = 0; waitForSwitch(deadline); ++switchIndex) {
        if (!deliverDeviceEvents(switchIndex, callbacks)) {
            break;
        }
        const SimStream::Switch served = stream->beginSwitch(switchIndex, m_sampleRate.load());
        if (served.message != 0 && !announce(served.message, callbacks)) {
            break;
        }
        publishPosition(static_cast<std::uint64_t>(served.period) * bufferSize,
                        nanosecondsOf(Clock::now()));
        callbacks.bufferSwitch(static_cast<ASIOLong>(served.period % 2), ASIOFalse);
        m_switchCount.fetch_add(1);
        // Stopped inside the callback: the buffers may be gone already.
        if (m_stopRequested.load()) {
            break;
        }
        stream->captureOutputs(served.period);
        deadline += periodOf(bufferSize, m_sampleRate.load()) *
                    (stream->periodOf(switchIndex + 1) - served.period);
    }
    finishSwitchThread();
}

bool LoopbackSimulator::waitForSwitch(Clock::time_point deadline) {
    if (m_settings.pacing == SimPacing::Freewheel) {
        std::this_thread::yield(); // the host's other threads get a turn between switches
        return !m_stopRequested.load();
    }
    std::unique_lock lock(m_mutex);
    return !m_threadChanged.wait_until(lock, deadline, [this] { return m_stopRequested.load(); });
}

bool LoopbackSimulator::deliverDeviceEvents(std::int64_t switchIndex,
                                            const ASIOCallbacks& callbacks) {
    if (m_starts != m_settings.deviceEventsStart) {
        return !m_stopRequested.load();
    }
    if (!m_rateChangeDelivered && switchIndex == m_settings.rateChangeAtSwitch) {
        m_rateChangeDelivered = true;
        m_sampleRate.store(m_settings.rateChangeTo);
        if (callbacks.sampleRateDidChange != nullptr) {
            callbacks.sampleRateDidChange(m_settings.rateChangeTo);
        }
        if (m_stopRequested.load()) {
            return false;
        }
    }
    if (!m_resetDelivered && switchIndex == m_settings.resetRequestAtSwitch) {
        m_resetDelivered = true;
        if (callbacks.asioMessage != nullptr) {
            callbacks.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
        }
    }
    return !m_stopRequested.load();
}

bool LoopbackSimulator::announce(ASIOLong selector, const ASIOCallbacks& callbacks) {
    if (callbacks.asioMessage != nullptr &&
        callbacks.asioMessage(kAsioSelectorSupported, selector, nullptr, nullptr) != 0) {
        callbacks.asioMessage(selector, 0, nullptr, nullptr);
    }
    return !m_stopRequested.load();
}

void LoopbackSimulator::publishPosition(std::uint64_t samples, std::uint64_t nanoseconds) {
    const std::uint32_t sequence = m_positionSequence.load(std::memory_order_relaxed);
    m_positionSequence.store(sequence + 1, std::memory_order_relaxed);
    m_positionSamples.store(samples, std::memory_order_release);
    m_positionNanoseconds.store(nanoseconds, std::memory_order_release);
    m_positionSequence.store(sequence + 2, std::memory_order_release);
    m_advancing.store(true);
}

void LoopbackSimulator::finishSwitchThread() {
    bool deleteNow = false;
    {
        const std::lock_guard lock(m_mutex);
        m_threadActive = false;
        m_advancing = false;
        deleteNow = m_deleteWhenThreadEnds;
        if (deleteNow) {
            m_thread.detach();
        }
        m_threadChanged.notify_all();
    }
    if (deleteNow) {
        delete this;
    }
}
