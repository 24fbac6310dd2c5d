#pragma once
// A host of the tests' own for the loopback simulator, on the simulator's own thread: it takes
// every channel, freewheels, and in each run plays a stimulus on every output and records every
// input, the sample position and half of each switch, and the messages the driver sends.

#include "drivers/sim/loopback_sim.h"
#include "engine/sample_format.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

class SimHost {
public:
    // What output `output` plays at host time `time` (switch k, sample i: k * B + i).
    using Stimulus = std::function<double(int output, std::int64_t time)>;

    SimHost(SimSettings settings, ASIOLong frames, bool supportsMessages = true)
        : m_frames(frames)
        , m_supportsMessages(supportsMessages) {
        settings.pacing = SimPacing::Freewheel;
        m_sim = createLoopbackSimulator(settings);
        m_layout = layoutOf(settings.sampleType);
        for (int i = 0; i < settings.inputs; ++i) {
            m_channels.push_back({ASIOTrue, i, {}});
        }
        for (int o = 0; o < settings.outputs; ++o) {
            m_channels.push_back({ASIOFalse, o, {}});
        }
        heard.resize(static_cast<std::size_t>(settings.inputs));
        current() = this;
        m_created = m_sim->createBuffers(
            m_channels.data(), static_cast<ASIOLong>(m_channels.size()), frames, &m_callbacks);
    }
    ~SimHost() {
        m_sim->Release();
        current() = nullptr;
    }
    SimHost(const SimHost&) = delete;
    SimHost& operator=(const SimHost&) = delete;

    ASIOError created() const { return m_created; }
    LoopbackSimulator& sim() { return *m_sim; }

    // One run of `switches` switches from a start to a stop; false if it did not get that far.
    bool run(std::int64_t switches, Stimulus stimulus) {
        const auto samples = static_cast<std::size_t>(switches * m_frames);
        for (std::vector<double>& input : heard) {
            input.assign(samples, 0.0);
        }
        positions.assign(static_cast<std::size_t>(switches), -1);
        halves.assign(static_cast<std::size_t>(switches), -1);
        messages.clear();
        m_stimulus = std::move(stimulus);
        m_target = switches;
        m_switches = 0;
        if (m_sim->start() != ASE_OK) {
            return false;
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (m_switches.load(std::memory_order_acquire) < switches &&
               std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        m_sim->stop(); // returns once no callback runs
        return m_switches.load() == switches;
    }

    std::vector<std::vector<double>> heard;                  // per input, by host time
    std::vector<std::int64_t> positions;                     // per switch
    std::vector<ASIOLong> halves;                            // per switch
    std::vector<std::pair<std::int64_t, ASIOLong>> messages; // (before switch, selector)

private:
    static SimHost*& current() {
        static SimHost* host = nullptr;
        return host;
    }

    static void onSwitch(ASIOLong half, ASIOBool) {
        SimHost& host = *current();
        const std::int64_t k = host.m_switches.load(std::memory_order_relaxed);
        if (k >= host.m_target) {
            return;
        }
        ASIOSamples position{};
        ASIOTimeStamp time{};
        host.m_sim->getSamplePosition(&position, &time);
        const auto at = static_cast<std::size_t>(k);
        host.positions[at] =
            static_cast<std::int64_t>((std::uint64_t{position.hi} << 32) | position.lo);
        host.halves[at] = half;
        for (const ASIOBufferInfo& channel : host.m_channels) {
            for (int i = 0; i < host.m_frames; ++i) {
                const std::int64_t hostTime = k * host.m_frames + i;
                if (channel.isInput) {
                    host.heard[static_cast<std::size_t>(channel.channelNum)]
                              [static_cast<std::size_t>(hostTime)] =
                        readNormalised(channel.buffers[half], i, host.m_layout);
                } else {
                    writeNormalised(channel.buffers[half], i,
                                    host.m_stimulus(channel.channelNum, hostTime), host.m_layout);
                }
            }
        }
        host.m_switches.store(k + 1, std::memory_order_release);
    }

    static ASIOLong onMessage(ASIOLong selector, ASIOLong, void*, double*) {
        SimHost& host = *current();
        if (selector == kAsioSelectorSupported) {
            return host.m_supportsMessages ? 1 : 0;
        }
        host.messages.emplace_back(host.m_switches.load(), selector);
        return 1;
    }

    const ASIOLong m_frames;
    const bool m_supportsMessages;
    LoopbackSimulator* m_sim = nullptr;
    SampleLayout m_layout;
    std::vector<ASIOBufferInfo> m_channels;
    ASIOCallbacks m_callbacks{onSwitch, nullptr, onMessage, nullptr};
    ASIOError m_created = ASE_OK;
    Stimulus m_stimulus;
    std::int64_t m_target = 0;
    std::atomic<std::int64_t> m_switches{0};
};

inline SimSettings simSettings(std::string_view text) {
    SimSettings settings;
    std::string error;
    if (!parseSimSettings(text, settings, &error)) {
        ADD_FAILURE() << text << ": " << error;
    }
    return settings;
}
