#include "engine/correlation_method.h"

#include "engine/correlation.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

namespace {

// Silence before the sweep, for the noise floor: 20 ms, and never less than one buffer.
std::size_t silenceBefore(const StreamSnapshot& stream, double sampleRate) {
    return std::max<std::size_t>(static_cast<std::size_t>(stream.frames),
                                 static_cast<std::size_t>(std::max(sampleRate, 0.0) * 0.02));
}

// The longest round trip looked for: one second, as the threshold method allows.
std::size_t longestDelay(double sampleRate) {
    return static_cast<std::size_t>(std::clamp(sampleRate, 1.0, 1e6));
}

} // namespace

void CorrelationMethod::prepare(const StreamSnapshot& stream, double sampleRate) {
    m_sweep = makeStimulus(sampleRate);
    m_silence = silenceBefore(stream, sampleRate);
    // No round trip is shorter than one buffer: the host hands over what it wrote a switch
    // later at the earliest, so the silence and one buffer after it hold no stimulus.
    m_quietLead = m_silence + static_cast<std::size_t>(stream.frames);
    m_switches = switchLimit(stream, sampleRate);
}

std::int64_t CorrelationMethod::switchLimit(const StreamSnapshot& stream, double sampleRate) const {
    if (stream.frames <= 0) {
        return 1;
    }
    const std::size_t length = m_silence + m_sweep.samples.size() + longestDelay(sampleRate);
    return static_cast<std::int64_t>((length + static_cast<std::size_t>(stream.frames) - 1) /
                                     static_cast<std::size_t>(stream.frames)) +
           1;
}

SwitchVerdict CorrelationMethod::onSwitch(const StreamSnapshot& stream, int half,
                                          std::int32_t index, std::int32_t, double) {
    const auto start = static_cast<std::size_t>(index) * static_cast<std::size_t>(stream.frames);
    for (std::int32_t k = 0; k < stream.numOutputs; ++k) {
        void* out = stream.output(k, half);
        for (std::int32_t j = 0; j < stream.frames; ++j) {
            const std::size_t at = start + static_cast<std::size_t>(j) - m_silence;
            const bool playing =
                start + static_cast<std::size_t>(j) >= m_silence && at < m_sweep.samples.size();
            writeNormalised(out, j, playing ? m_sweep.samples[at] : 0.0, stream.layout);
        }
    }
    return std::int64_t{index} + 1 >= m_switches ? SwitchVerdict{SwitchVerdict::Ended}
                                                 : SwitchVerdict{SwitchVerdict::Continue};
}

void CorrelationMethod::describe(MeasurementResult& result, const Recording& recording) const {
    std::vector<std::span<const float>> inputs;
    for (const std::vector<float>& input : recording.inputs) {
        inputs.emplace_back(input.data(), recording.length);
    }
    // The analysis times from the sweep's first sample; the round trip counts from switch 0.
    CorrelationFindings findings = analyseRecording(m_sweep, inputs, m_quietLead);
    const auto silence = static_cast<double>(m_silence);
    findings.delaySamples -= silence;
    if (findings.ghost) {
        findings.ghost->delaySamples -= silence;
    }
    if (findings.loopFound) {
        result.latencySamples = findings.delaySamples;
    }
    result.correlation = findings;
}
