#pragma once
// A driver with no thread of its own: fixed channel counts, one buffer size, one rate and one
// sample type, and buffers that are memory the test owns, filled with 0xAB. Installed as the one
// driver of an in-memory registry, the catalog borrows it.

#include "drivers/memory_install.h"
#include "engine/sample_format.h"
#include "platform/memory/memory_platform.h"
#include "support/fake_driver.h"

#include <algorithm>
#include <cstdint>
#include <vector>

class HandDriver : public FakeDriver {
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
        if (channelInfoAnswer != ASE_OK) {
            return channelInfoAnswer;
        }
        info->type = m_type;
        return ASE_OK;
    }
    ASIOError createBuffers(ASIOBufferInfo* infos, ASIOLong count, ASIOLong frames,
                            ASIOCallbacks*) override {
        const auto halfBytes =
            static_cast<std::size_t>(frames) * static_cast<std::size_t>(layoutOf(m_type).bytes);
        // The inputs hold silence, as a driver that heard nothing hands them over; the outputs
        // hold what no measurement should play.
        memory.assign(static_cast<std::size_t>(count) * 2,
                      std::vector<std::uint8_t>(halfBytes, 0xAB));
        for (ASIOLong c = 0; c < count && infos[c].isInput; ++c) {
            std::fill(memory[2 * static_cast<std::size_t>(c)].begin(),
                      memory[2 * static_cast<std::size_t>(c)].end(), 0);
            std::fill(memory[2 * static_cast<std::size_t>(c) + 1].begin(),
                      memory[2 * static_cast<std::size_t>(c) + 1].end(), 0);
        }
        for (ASIOLong c = 0; c < count; ++c) {
            infos[c].buffers[0] = half(c, 0);
            infos[c].buffers[1] = half(c, 1);
        }
        return ASE_OK;
    }

    // The driver's clock: a test that plays the driver's thread sets the position of each switch.
    ASIOError getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) override {
        *position = {static_cast<std::uint32_t>(samplePosition >> 32),
                     static_cast<std::uint32_t>(samplePosition)};
        *stamp = {0, 0};
        return ASE_OK;
    }
    std::uint64_t samplePosition = 0;

    // Channels count inputs first, as in the channel array.
    std::uint8_t* half(int channel, int h) {
        return memory[2 * static_cast<std::size_t>(channel) + static_cast<std::size_t>(h)].data();
    }
    std::vector<std::vector<std::uint8_t>> memory;
    ASIOError channelInfoAnswer = ASE_OK; // anything else: getChannelInfo refuses
    int inputs() const { return m_inputs; }
    int frames() const { return m_frames; }
    SampleLayout layout() const { return layoutOf(m_type); }

private:
    int m_inputs;
    int m_outputs;
    int m_frames;
    double m_rate;
    ASIOSampleType m_type;
};

// Installs `driver`, which the test owns, as the one driver of `registry`: every instance the
// catalog makes is that one, with a reference of its own.
inline void installOwnedDriver(platform::MemoryPlatform& registry, FakeDriver& driver) {
    installMemoryDriver(
        registry, "Test driver", {0x4A0D, 1, 2, {3}},
        [&driver] {
            driver.AddRef();
            return &driver;
        },
        "/proc/self/exe");
}
