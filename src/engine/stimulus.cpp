#include "engine/stimulus.h"

#include "engine/sample_format.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>

namespace {

constexpr double kDurationSeconds = 0.1;
constexpr double kStartFraction = 0.01; // of the sample rate
constexpr double kEndFraction = 0.42;
constexpr double kFadeFraction = 0.2; // of the duration, at each end
constexpr double kLowestRate = 8000;
constexpr double kHighestRate = 768000;

// Raised-cosine gain over the fades, 1 between them.
double fadeGain(std::size_t index, std::size_t length) {
    const auto fadeLength = static_cast<double>(length) * kFadeFraction;
    const double fromEdge = static_cast<double>(std::min(index, length - 1 - index));
    if (fromEdge >= fadeLength) {
        return 1.0;
    }
    return 0.5 - 0.5 * std::cos(std::numbers::pi * fromEdge / fadeLength);
}

} // namespace

Stimulus makeStimulus(double sampleRate) noexcept {
    Stimulus stimulus;
    if (!(sampleRate >= kLowestRate && sampleRate <= kHighestRate)) {
        return stimulus;
    }
    const auto length = static_cast<std::size_t>(std::lround(sampleRate * kDurationSeconds));
    const double peak = std::ldexp(static_cast<double>(kPulseLevel), -31);
    // Instantaneous frequency (cycles per sample) rises linearly from start to end.
    const double sweepRate = (kEndFraction - kStartFraction) / static_cast<double>(length - 1);
    try {
        stimulus.samples.resize(length);
    } catch (const std::bad_alloc&) {
        return stimulus;
    }
    for (std::size_t i = 0; i < length; ++i) {
        const auto n = static_cast<double>(i);
        const double cycles = kStartFraction * n + sweepRate * n * n / 2.0;
        stimulus.samples[i] = static_cast<float>(peak * fadeGain(i, length) *
                                                 std::sin(2.0 * std::numbers::pi * cycles));
    }
    return stimulus;
}
