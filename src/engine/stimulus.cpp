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

// Raised-cosine gain over the fades, 1 between them.
double fadeGain(std::size_t index, std::size_t length) {
    const auto fadeLength = static_cast<double>(length) * kFadeFraction;
    const double fromEdge = static_cast<double>(std::min(index, length - 1 - index));
    if (fromEdge >= fadeLength) {
        return 1.0;
    }
    return 0.5 - 0.5 * std::cos(std::numbers::pi * fromEdge / fadeLength);
}

std::vector<double> autocorrelationNearZero(const std::vector<float>& samples) {
    const auto reach = static_cast<std::ptrdiff_t>(kStimulusShapeLags);
    std::vector<double> shape(2 * kStimulusShapeLags + 1);
    for (std::ptrdiff_t lag = 0; lag <= reach; ++lag) {
        double sum = 0;
        for (std::size_t n = static_cast<std::size_t>(lag); n < samples.size(); ++n) {
            sum += double{samples[n]} * double{samples[n - static_cast<std::size_t>(lag)]};
        }
        shape[static_cast<std::size_t>(reach + lag)] = sum;
        shape[static_cast<std::size_t>(reach - lag)] = sum;
    }
    const double peak = shape[kStimulusShapeLags];
    for (double& value : shape) {
        value /= peak;
    }
    return shape;
}

} // namespace

Stimulus makeStimulus(double sampleRate, SweepDirection direction) noexcept {
    Stimulus stimulus;
    if (!(sampleRate >= kLowestStimulusRate && sampleRate <= kHighestStimulusRate)) {
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
    if (direction == SweepDirection::Falling) {
        std::reverse(stimulus.samples.begin(), stimulus.samples.end());
    }
    try {
        stimulus.shape = autocorrelationNearZero(stimulus.samples);
    } catch (const std::bad_alloc&) {
        return {};
    }
    return stimulus;
}
