#include "engine/threshold_method.h"

#include "engine/pulse_check.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>

namespace {

// The time limit compares against the rate truncated toward zero; a rate that has no 32-bit
// value (not a number, out of range) must not make that conversion undefined.
std::int64_t truncatedRate(double rate) {
    if (!(rate > 0)) {
        return 0;
    }
    if (rate >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int64_t>(rate);
}

} // namespace

void ThresholdMethod::prepare(const StreamSnapshot& stream, double sampleRate) {
    m_listened = truncatedRate(sampleRate);
    m_found = {};
    m_crossed = false;
    m_threshold32 = 0;
    m_timedOutBeforeClearing = false;
    m_frames = stream.frames;
}

SwitchVerdict ThresholdMethod::onSwitch(const StreamSnapshot& stream, int half, std::int32_t index,
                                        std::int32_t threshold32, double sampleRate) {
    const bool limitReached = (std::int64_t{index} + 1) * stream.frames > truncatedRate(sampleRate);
    if (index == 0) {
        // Every buffer starts the measurement silent. The clearing is done here, on the
        // driver's thread between its own buffer work, rather than when the measurement is
        // armed: the driver reads and writes these buffers while the stream runs.
        for (std::int32_t c = 0; c < stream.numInputs + stream.numOutputs; ++c) {
            for (void* buffer : stream.channels[c].buffers) {
                std::memset(buffer, 0, stream.halfBytes());
            }
        }
        if (limitReached) {
            return {SwitchVerdict::TimedOut}; // no scan could find a pulse sent now
        }
        for (std::int32_t k = 0; k < stream.numOutputs; ++k) {
            writePulse(stream.output(k, half), stream.frames, stream.layout);
        }
    } else if (index == 2) {
        // The half that carried the pulse comes round again: from now on only silence plays.
        for (std::int32_t k = 0; k < stream.numOutputs; ++k) {
            std::memset(stream.output(k, half), 0, stream.halfBytes());
        }
        if (m_timedOutBeforeClearing) {
            return {SwitchVerdict::TimedOut};
        }
    }

    if (m_crossed) {
        // The crossing is judged on the input that follows it: the run goes on until the
        // recording holds that much.
        const bool recorded = (std::int64_t{index} + 1) * stream.frames >=
                              onset() + static_cast<std::int64_t>(pulseCheckSpan(stream.frames));
        return recorded ? SwitchVerdict{SwitchVerdict::Ended, onset()}
                        : SwitchVerdict{SwitchVerdict::Continue};
    }
    if (index >= 1) {
        for (std::int32_t i = 0; i < stream.numInputs; ++i) {
            const std::int32_t at =
                findFirstAbove(stream.input(i, half), stream.frames, stream.layout, threshold32);
            if (at >= 0) {
                m_found = {i, index, at};
                m_crossed = true;
                m_threshold32 = threshold32;
                return {SwitchVerdict::Continue}; // what follows the crossing is yet to come
            }
        }
    }
    if (limitReached) {
        // Ending before switch 2 would leave the pulse in its half, playing every other buffer.
        m_timedOutBeforeClearing = index < 2;
        return m_timedOutBeforeClearing ? SwitchVerdict{SwitchVerdict::Continue}
                                        : SwitchVerdict{SwitchVerdict::TimedOut};
    }
    return {SwitchVerdict::Continue};
}

std::int64_t ThresholdMethod::switchLimit(const StreamSnapshot& stream, double sampleRate) const {
    if (stream.frames <= 0) {
        return 3;
    }
    // The last switch the limit lets scan, then what judging a crossing in its last sample reads,
    // and never fewer than the three switches that send and silence the pulse.
    const std::int64_t scanned = truncatedRate(sampleRate) / stream.frames + 1;
    const auto span = static_cast<std::int64_t>(pulseCheckSpan(stream.frames));
    return std::max<std::int64_t>(3, scanned + (span - 1 + stream.frames - 1) / stream.frames);
}

void ThresholdMethod::describe(MeasurementResult& result, const Recording& recording) const {
    if (!m_crossed) {
        // A round trip through an interface takes two buffers at least: one second of them
        // cannot hold one.
        if (m_listened < 2 * std::int64_t{m_frames}) {
            result.verdict.reasons.push_back(
                {VerdictReason::LoopLongerThanWindow, static_cast<double>(m_listened)});
        }
        return;
    }
    const auto channel = static_cast<std::size_t>(m_found.input);
    const std::span<const float> input =
        channel < recording.inputs.size()
            ? std::span<const float>(recording.inputs[channel].data(), recording.length)
            : std::span<const float>();
    const PulseCheck check = checkPulse(input, static_cast<std::size_t>(onset()), m_frames,
                                        std::ldexp(m_threshold32, -31));
    result.threshold = m_found;
    result.threshold->marginDb = check.marginDb;
    if (!check.isThePulse) {
        result.verdict.reasons.push_back({VerdictReason::NotThePulse});
        return;
    }
    result.latencySamples = static_cast<double>(onset());
    if (check.secondPathDb) {
        result.verdict.reasons.push_back({VerdictReason::AmbiguousPaths, *check.secondPathDb});
    }
    if (check.marginDb < kOnsetMarginDb) {
        result.verdict.reasons.push_back({VerdictReason::OnsetNearThreshold, check.marginDb});
    }
}
