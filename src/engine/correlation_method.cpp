#include "engine/correlation_method.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>
#include <vector>

namespace {

// Silence before the sweep, for the noise floor: 20 ms, and never less than one buffer.
constexpr double kSilenceSeconds = 0.02;

} // namespace

CorrelationMethod::CorrelationMethod(double maxLatencySeconds)
    : m_maxLatencySeconds(maxLatencySeconds > 0 && maxLatencySeconds <= kLongestMaxLatencySeconds
                              ? maxLatencySeconds
                              : kDefaultMaxLatencySeconds) {}

void CorrelationMethod::prepare(const StreamSnapshot& stream, double sampleRate) {
    m_refusal.reset();
    m_sweep = {};
    m_window = {};
    m_switches = 0;
    // Every figure below is sized from the rate and the buffer size the driver reported, so
    // both are checked before any is converted or sizes memory.
    if (!(sampleRate >= kLowestStimulusRate && sampleRate <= kHighestStimulusRate)) {
        m_refusal = {VerdictReason::RateUnsupported, sampleRate};
        return;
    }
    const auto longestDelay = static_cast<std::size_t>(std::ceil(m_maxLatencySeconds * sampleRate));
    if (stream.frames <= 0) {
        m_refusal = {VerdictReason::SizeUnsupported, static_cast<double>(stream.frames)};
        return;
    }
    // No round trip is shorter than one buffer: the host hands over what it wrote a switch
    // later at the earliest.
    const auto frames = static_cast<std::size_t>(stream.frames);
    if (frames > longestDelay) {
        m_refusal = {VerdictReason::LoopLongerThanWindow, static_cast<double>(longestDelay)};
        return;
    }
    m_direction =
        m_direction == SweepDirection::Rising ? SweepDirection::Falling : SweepDirection::Rising;
    m_sweep = makeStimulus(sampleRate, m_direction);
    if (m_sweep.samples.empty()) {
        m_refusal = {VerdictReason::RecordingUnusable};
        return;
    }
    const auto silence = static_cast<std::size_t>(sampleRate * kSilenceSeconds);
    const auto guard = static_cast<std::size_t>(std::ceil(kEarlyEndGuardSeconds * sampleRate));
    m_window = {std::max(frames, silence), frames, longestDelay, guard};
    const std::size_t length = recordingNeeded(m_window, m_sweep.samples.size());
    m_switches = static_cast<std::int64_t>((length + frames - 1) / frames) + 1;
}

std::int64_t CorrelationMethod::switchLimit(const StreamSnapshot&, double) const {
    return m_switches;
}

SwitchVerdict CorrelationMethod::onSwitch(const StreamSnapshot& stream, int half,
                                          std::int32_t index, std::int32_t, double) {
    if (index == 0) {
        // The other half still holds whatever played before arming, and plays it now: silence
        // it too, for the quiet lead's sake.
        for (std::int32_t k = 0; k < stream.numOutputs; ++k) {
            std::memset(stream.output(k, 1 - half), 0, stream.halfBytes());
        }
    }
    const auto start = static_cast<std::size_t>(index) * static_cast<std::size_t>(stream.frames);
    const std::size_t silence = m_window.stimulusStart;
    for (std::int32_t k = 0; k < stream.numOutputs; ++k) {
        void* out = stream.output(k, half);
        for (std::int32_t j = 0; j < stream.frames; ++j) {
            const std::size_t at = start + static_cast<std::size_t>(j) - silence;
            const bool playing =
                start + static_cast<std::size_t>(j) >= silence && at < m_sweep.samples.size();
            writeNormalised(out, j, playing ? m_sweep.samples[at] : 0.0, stream.layout);
        }
    }
    return std::int64_t{index} + 1 >= m_switches ? SwitchVerdict{SwitchVerdict::Ended}
                                                 : SwitchVerdict{SwitchVerdict::Continue};
}

namespace {

// The first `length` samples of every input.
std::vector<std::span<const float>> inputsUpTo(const Recording& recording, std::size_t length) {
    std::vector<std::span<const float>> inputs;
    for (const std::vector<float>& input : recording.inputs) {
        inputs.emplace_back(input.data(), std::min(length, input.size()));
    }
    return inputs;
}

} // namespace

void CorrelationMethod::describe(MeasurementResult& result, const Recording& recording) const {
    if (m_refusal) {
        result.verdict = {Verdict::NoResult, {*m_refusal}};
        return;
    }
    CorrelationAnalysis analysis =
        analyseRecording(m_sweep, inputsUpTo(recording, recording.length), m_window);
    if (analysis.verdict.verdict != Verdict::NoResult) {
        result.latencySamples = analysis.findings.delaySamples;
    }
    result.correlation = std::move(analysis.findings);
    result.verdict = std::move(analysis.verdict);
}

bool CorrelationMethod::complete(const Recording& recording, std::size_t recorded) const {
    // Not before the shortest loop there can be has come back whole.
    if (m_refusal ||
        recorded < m_window.stimulusStart + m_window.shortestDelay + m_sweep.samples.size()) {
        return false;
    }
    const std::vector<std::span<const float>> inputs = inputsUpTo(recording, recorded);
    return !strongestStillArriving(m_sweep, inputs, m_window) &&
           analyseRecording(m_sweep, inputs, m_window).verdict.verified();
}
