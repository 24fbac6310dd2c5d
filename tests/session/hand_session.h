#pragma once
// A session over a driver with no thread of its own: its buffers are memory the test owns, filled
// with 0xAB, and the test plays the driver's thread, one buffer-switch callback at a time.

#include "drivers/memory_install.h"
#include "platform/memory/memory_platform.h"
#include "session/host_callbacks.h"
#include "session/measurement_session.h"
#include "support/fake_driver.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

class HandDriver final : public FakeDriver {
public:
    HandDriver(int inputs, int outputs, int frames, double rate, ASIOSampleType type)
        : m_inputs(inputs)
        , m_outputs(outputs)
        , m_frames(frames)
        , m_rate(rate)
        , m_type(type) {}

    ASIOError getChannels(ASIOLong* inputs, ASIOLong* outputs) override {
        *inputs = m_inputs;
        *outputs = m_outputs;
        return ASE_OK;
    }
    ASIOError getBufferSize(ASIOLong* minSize, ASIOLong* maxSize, ASIOLong* preferred,
                            ASIOLong* granularity) override {
        *minSize = *maxSize = *preferred = m_frames;
        *granularity = 0;
        return ASE_OK;
    }
    ASIOError getSampleRate(ASIOSampleRate* rate) override {
        *rate = m_rate;
        return ASE_OK;
    }
    ASIOError getChannelInfo(ASIOChannelInfo* info) override {
        info->type = m_type;
        return ASE_OK;
    }
    ASIOError createBuffers(ASIOBufferInfo* infos, ASIOLong count, ASIOLong frames,
                            ASIOCallbacks*) override {
        const auto halfBytes =
            static_cast<std::size_t>(frames) * static_cast<std::size_t>(layoutOf(m_type).bytes);
        memory.assign(static_cast<std::size_t>(count) * 2,
                      std::vector<std::uint8_t>(halfBytes, 0xAB));
        for (ASIOLong c = 0; c < count; ++c) {
            infos[c].buffers[0] = half(c, 0);
            infos[c].buffers[1] = half(c, 1);
        }
        return ASE_OK;
    }

    // Channels count inputs first, as in the channel array.
    std::uint8_t* half(int channel, int h) {
        return memory[2 * static_cast<std::size_t>(channel) + static_cast<std::size_t>(h)].data();
    }
    std::vector<std::vector<std::uint8_t>> memory;

private:
    int m_inputs;
    int m_outputs;
    int m_frames;
    double m_rate;
    ASIOSampleType m_type;
};

// The driver above, opened, its buffers made and its stream started in a session of its own.
struct HandSession {
    HandSession(int inputs, int outputs, int frames, double rate,
                ASIOSampleType type = ASIOSTInt32LSB)
        : driver(inputs, outputs, frames, rate, type) {
        installMemoryDriver(
            registry, "Hand", {0x4A0D, 1, 2, {3}},
            [this] {
                driver.AddRef();
                return &driver;
            },
            "/proc/self/exe");
        catalog = std::make_unique<DriverCatalog>();
        session = std::make_unique<MeasurementSession>(*catalog, events);
        EXPECT_EQ(session->open(0), OpenResult::Opened);
        EXPECT_EQ(session->prepare(), ASE_OK);
        EXPECT_EQ(session->start(), ASE_OK);
    }
    // Switches on alternating halves from `first` until the measurement ends: how many ran, or
    // -1 when it did not end within `limit`.
    int switchesUntilEnded(int limit, int first = 0) {
        for (int k = 0; k < limit; ++k) {
            BufferSwitchCallback((first + k) % 2, ASIOTrue);
            if (!session->measurement().armed()) {
                return k + 1;
            }
        }
        return -1;
    }
    // Result events posted since the last call.
    int postedResults() {
        int results = 0;
        while (const auto event = events.waitUntil(std::chrono::steady_clock::now())) {
            results += event->kind == SessionEventKind::Result ? 1 : 0;
        }
        return results;
    }

    platform::MemoryPlatform registry;
    platform::ScopedPlatform scoped{registry};
    HandDriver driver;
    std::unique_ptr<DriverCatalog> catalog;
    EventQueue events;
    std::unique_ptr<MeasurementSession> session;
};
