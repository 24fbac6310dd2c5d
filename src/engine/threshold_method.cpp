#include "engine/threshold_method.h"

#include <cstring>
#include <limits>

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

void ThresholdMethod::prepare(const StreamSnapshot& stream, double) {
    m_found = {};
    m_frames = stream.frames;
}

SwitchVerdict ThresholdMethod::onSwitch(const StreamSnapshot& stream, int half, std::int32_t index,
                                        std::int32_t threshold32, double sampleRate) {
    if (index == 0) {
        // Every buffer starts the measurement silent. The clearing is done here, on the
        // driver's thread between its own buffer work, rather than when the measurement is
        // armed: the driver reads and writes these buffers while the stream runs.
        for (std::int32_t c = 0; c < stream.numInputs + stream.numOutputs; ++c) {
            for (void* buffer : stream.channels[c].buffers) {
                std::memset(buffer, 0, stream.halfBytes());
            }
        }
        for (std::int32_t k = 0; k < stream.numOutputs; ++k) {
            writePulse(stream.output(k, half), stream.frames, stream.layout);
        }
    } else if (index == 2) {
        // The half that carried the pulse comes round again: from now on only silence plays.
        for (std::int32_t k = 0; k < stream.numOutputs; ++k) {
            std::memset(stream.output(k, half), 0, stream.halfBytes());
        }
    }

    if (index >= 1) {
        for (std::int32_t i = 0; i < stream.numInputs; ++i) {
            const std::int32_t at =
                findFirstAbove(stream.input(i, half), stream.frames, stream.layout, threshold32);
            if (at >= 0) {
                m_found = {i, index, at};
                return {SwitchVerdict::Ended, std::int64_t{index} * stream.frames + at};
            }
        }
    }

    if ((std::int64_t{index} + 1) * stream.frames > truncatedRate(sampleRate)) {
        return {SwitchVerdict::TimedOut};
    }
    return {SwitchVerdict::Continue};
}

std::int64_t ThresholdMethod::switchLimit(const StreamSnapshot& stream, double sampleRate) const {
    return stream.frames > 0 ? truncatedRate(sampleRate) / stream.frames + 1 : 1;
}

void ThresholdMethod::describe(MeasurementResult& result, const Recording&) const {
    result.latencySamples =
        static_cast<double>(std::int64_t{m_found.switchIndex} * m_frames + m_found.position);
    result.threshold = m_found;
}
