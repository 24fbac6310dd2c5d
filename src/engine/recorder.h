#pragma once
// What a run's channels carried, recorded cheaply on the driver's thread and read on the owner's.
// The driver's thread copies each buffer half as the driver's own bytes and then publishes how far
// the recording reaches; the owner's thread converts what is published to normalised floats
// (engine/sample_format.h), during the run as well as after it: a published sample is never
// written again until the next prepare().

#include "engine/detection_method.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

class Recorder {
public:
    // Memory a recording of `samples` in each of `channels` channels takes, raw and converted.
    static double bytesFor(std::int64_t channels, double samples, SampleLayout layout);

    // Owner's thread, no switch running: room for `capacity` samples in each of `inputs` input and
    // `outputs` output channels. Allocates, and keeps its memory for the next run.
    void prepare(std::int32_t inputs, std::int32_t outputs, std::size_t capacity,
                 SampleLayout layout, double sampleRate, std::int32_t bufferSize);
    std::size_t capacity() const { return m_capacity; }

    // Driver's thread: `count` samples from a channel's buffer half, from sample `at` on.
    void copyInput(std::int32_t channel, const void* half, std::size_t at, std::size_t count) {
        copy(m_inputs[static_cast<std::size_t>(channel)], half, at, count);
    }
    void copyOutput(std::int32_t channel, const void* half, std::size_t at, std::size_t count) {
        copy(m_outputs[static_cast<std::size_t>(channel)], half, at, count);
    }
    // Driver's thread: every channel is written up to sample `length`.
    void publish(std::size_t length) { m_published.store(length, std::memory_order_release); }

    // Any thread: how many samples of each channel are recorded.
    std::size_t published() const { return m_published.load(std::memory_order_acquire); }
    // Owner's thread: the recording up to published(), normalised.
    const Recording& converted();

private:
    void copy(std::vector<std::byte>& into, const void* half, std::size_t at, std::size_t count);

    SampleLayout m_layout{};
    std::size_t m_capacity = 0;
    std::vector<std::vector<std::byte>> m_inputs;
    std::vector<std::vector<std::byte>> m_outputs;
    std::atomic<std::size_t> m_published{0};
    Recording m_recording; // converted up to its length
};
