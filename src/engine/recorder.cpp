#include "engine/recorder.h"

#include <algorithm>
#include <cstring>

namespace {

void resizeEach(std::vector<std::vector<std::byte>>& channels, std::int32_t count,
                std::size_t bytes) {
    channels.resize(static_cast<std::size_t>(std::max(count, 0)));
    for (std::vector<std::byte>& channel : channels) {
        channel.resize(bytes);
    }
}

void resizeEach(std::vector<std::vector<float>>& channels, std::size_t count, std::size_t samples) {
    channels.resize(count);
    for (std::vector<float>& channel : channels) {
        channel.resize(samples);
    }
}

// readNormalisedBlock over any length.
void convert(const std::byte* raw, std::size_t count, SampleLayout layout, float* into) {
    constexpr std::size_t kChunk = 1 << 20;
    for (std::size_t done = 0; done < count; done += kChunk) {
        const std::size_t n = std::min(kChunk, count - done);
        readNormalisedBlock(raw + done * static_cast<std::size_t>(layout.bytes),
                            static_cast<std::int32_t>(n), layout, into + done);
    }
}

} // namespace

double Recorder::bytesFor(std::int64_t channels, double samples, SampleLayout layout) {
    return static_cast<double>(channels) * samples *
           static_cast<double>(layout.bytes + static_cast<int>(sizeof(float)));
}

void Recorder::prepare(std::int32_t inputs, std::int32_t outputs, std::size_t capacity,
                       SampleLayout layout, double sampleRate, std::int32_t bufferSize) {
    m_layout = layout;
    m_capacity = capacity;
    const std::size_t bytes = capacity * static_cast<std::size_t>(layout.bytes);
    resizeEach(m_inputs, inputs, bytes);
    resizeEach(m_outputs, outputs, bytes);
    resizeEach(m_recording.inputs, m_inputs.size(), capacity);
    resizeEach(m_recording.outputs, m_outputs.size(), capacity);
    m_recording.sampleRate = sampleRate;
    m_recording.bufferSize = bufferSize;
    m_recording.length = 0;
    m_published.store(0, std::memory_order_relaxed);
}

void Recorder::copy(std::vector<std::byte>& into, const void* half, std::size_t at,
                    std::size_t count) {
    const auto bytes = static_cast<std::size_t>(m_layout.bytes);
    std::memcpy(into.data() + at * bytes, half, count * bytes);
}

const Recording& Recorder::converted() {
    const std::size_t length = published();
    const std::size_t from = m_recording.length;
    if (length > from) {
        const auto bytes = static_cast<std::size_t>(m_layout.bytes);
        const auto convertAll = [&](const std::vector<std::vector<std::byte>>& raw,
                                    std::vector<std::vector<float>>& into) {
            for (std::size_t c = 0; c < raw.size(); ++c) {
                convert(raw[c].data() + from * bytes, length - from, m_layout,
                        into[c].data() + from);
            }
        };
        convertAll(m_inputs, m_recording.inputs);
        convertAll(m_outputs, m_recording.outputs);
        m_recording.length = length;
    }
    return m_recording;
}
