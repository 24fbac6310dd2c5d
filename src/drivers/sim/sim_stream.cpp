#include "drivers/sim/sim_stream.h"

#include <algorithm>
#include <cmath>

namespace {

// Each half starts on a 16-byte boundary, whatever the sample width and buffer size.
constexpr std::size_t kHalfAlignment = 16;

std::size_t alignedHalfBytes(ASIOLong bufferSize, int sampleBytes) {
    const auto bytes = static_cast<std::size_t>(bufferSize) * static_cast<std::size_t>(sampleBytes);
    return (bytes + kHalfAlignment - 1) / kHalfAlignment * kHalfAlignment;
}

double linearGain(const SimSettings& settings) {
    const double magnitude = std::pow(10.0, settings.loopGainDb / 20.0);
    return settings.invertPolarity ? -magnitude : magnitude;
}

} // namespace

SimStream::SimStream(const SimSettings& settings, const ASIOBufferInfo* bufferInfos,
                     ASIOLong numChannels, ASIOLong bufferSize, const ASIOCallbacks& callbacks)
    : m_callbacks(callbacks)
    , m_layout(layoutOf(settings.sampleType))
    , m_bufferSize(bufferSize)
    , m_delay(settings.loopDelay)
    , m_gain(linearGain(settings))
    , m_noiseAmplitude(settings.noiseDbfs ? std::pow(10.0, *settings.noiseDbfs / 20.0) : 0.0)
    , m_historyLength(2 * m_bufferSize + m_delay) {
    const std::size_t halfBytes = alignedHalfBytes(bufferSize, m_layout.bytes);
    const auto channels = static_cast<std::size_t>(numChannels);
    m_audio.assign(channels * 2 * halfBytes, std::byte{0});
    m_ports.resize(channels);

    std::vector<double*> outputHistory(static_cast<std::size_t>(settings.outputs), nullptr);
    std::size_t outputCount = 0;
    for (std::size_t i = 0; i < channels; ++i) {
        outputCount += bufferInfos[i].isInput ? 0 : 1;
    }
    m_history.assign(outputCount * static_cast<std::size_t>(m_historyLength), 0.0);

    std::size_t nextHistory = 0;
    for (std::size_t i = 0; i < channels; ++i) {
        Port& port = m_ports[i];
        port.isInput = bufferInfos[i].isInput != ASIOFalse;
        port.channel = bufferInfos[i].channelNum;
        port.halves[0] = m_audio.data() + 2 * i * halfBytes;
        port.halves[1] = port.halves[0] + halfBytes;
        if (!port.isInput) {
            port.history = m_history.data() + nextHistory;
            nextHistory += static_cast<std::size_t>(m_historyLength);
            outputHistory[static_cast<std::size_t>(port.channel)] = port.history;
        }
    }
    for (Port& port : m_ports) {
        const int source = port.isInput ? settings.sourceOf(port.channel) : kNoCable;
        if (source != kNoCable) {
            port.history = outputHistory[static_cast<std::size_t>(source)];
        }
    }
}

void SimStream::handOut(ASIOBufferInfo* bufferInfos) const {
    for (std::size_t i = 0; i < m_ports.size(); ++i) {
        bufferInfos[i].buffers[0] = m_ports[i].halves[0];
        bufferInfos[i].buffers[1] = m_ports[i].halves[1];
    }
}

bool SimStream::isActive(bool isInput, ASIOLong channel) const {
    for (const Port& port : m_ports) {
        if (port.isInput == isInput && port.channel == channel) {
            return true;
        }
    }
    return false;
}

void SimStream::rewind(std::uint64_t noiseSeed) {
    std::fill(m_history.begin(), m_history.end(), 0.0);
    m_noiseState = noiseSeed;
}

double SimStream::nextNoise() {
    // splitmix64: small, fast and the same on every platform.
    std::uint64_t z = (m_noiseState += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    z ^= z >> 31;
    return std::ldexp(static_cast<double>(z >> 11), -52) - 1.0; // uniform in [-1, 1)
}

void SimStream::fillInputs(std::int64_t switchIndex) {
    const int half = static_cast<int>(switchIndex % 2);
    const std::int64_t firstPlayTime = (switchIndex - 1) * m_bufferSize - m_delay;
    for (Port& port : m_ports) {
        if (!port.isInput) {
            continue;
        }
        for (std::int64_t i = 0; i < m_bufferSize; ++i) {
            const std::int64_t playTime = firstPlayTime + i;
            double value = 0.0;
            if (port.history != nullptr && playTime >= 0) {
                // Adding +0.0 turns the -0.0 of inverted silence back into +0.0, so silence
                // stays all zero bytes in the float formats.
                value = port.history[playTime % m_historyLength] * m_gain + 0.0;
            }
            if (m_noiseAmplitude > 0.0) {
                value += m_noiseAmplitude * nextNoise();
            }
            writeNormalised(port.halves[half], static_cast<int>(i), value, m_layout);
        }
    }
}

void SimStream::captureOutputs(std::int64_t switchIndex) {
    const int half = static_cast<int>(switchIndex % 2);
    const std::int64_t firstPlayTime = (switchIndex + 1) * m_bufferSize;
    for (Port& port : m_ports) {
        if (port.isInput) {
            continue;
        }
        for (std::int64_t i = 0; i < m_bufferSize; ++i) {
            port.history[(firstPlayTime + i) % m_historyLength] =
                readNormalised(port.halves[half], static_cast<int>(i), m_layout);
        }
    }
}
