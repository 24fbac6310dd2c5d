#include "engine/pulse_check.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

namespace {

// A step through a converter's filter is mostly done within this many samples.
constexpr std::size_t kEdgeWidth = 4;
// The filtered leading edge rings before the onset: only the input further back than this (and
// never more than half of what precedes the onset) must be quiet.
constexpr std::size_t kEdgeAllowance = 64;
// The pulse's level is the median of its first samples: past the edge's overshoot, before any sag.
constexpr std::size_t kLevelSamples = 32;

// How far from one buffer after the onset the trailing edge may lie: the onset sits anywhere on
// the smeared leading edge, depending on the threshold's height on it.
std::size_t edgeTolerance(std::size_t frames) {
    return std::clamp<std::size_t>(frames / 4, 1, 16);
}

double pulseLevel(std::span<const float> from) {
    std::array<float, kLevelSamples> first{};
    const std::size_t count = std::min(from.size(), first.size());
    std::copy_n(from.begin(), count, first.begin());
    if (std::any_of(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(count),
                    [](float v) { return std::isnan(v); })) {
        return 0;
    }
    const auto middle = first.begin() + static_cast<std::ptrdiff_t>(count / 2);
    std::nth_element(first.begin(), middle, first.begin() + static_cast<std::ptrdiff_t>(count));
    return *middle;
}

} // namespace

namespace {

// Samples from the onset up to the end of the trailing edge's search.
std::size_t pulseSpan(std::size_t length) {
    return length + edgeTolerance(length) + kEdgeWidth + 1;
}

} // namespace

std::size_t pulseCheckSpan(std::int32_t frames) {
    const auto length = static_cast<std::size_t>(std::max(frames, 1));
    return pulseSpan(length) + std::max(length, kQuietAfterPulse);
}

PulseCheck checkPulse(std::span<const float> input, std::size_t onset, std::int32_t frames,
                      double threshold) {
    const auto length = static_cast<std::size_t>(std::max(frames, 1));
    if (!(threshold > 0) || onset >= input.size() ||
        input.size() - onset < pulseCheckSpan(frames)) {
        return {};
    }
    const auto x = [&](std::size_t n) { return static_cast<double>(input[n]); };
    const double level =
        pulseLevel(input.subspan(onset, std::clamp<std::size_t>(length / 2, 1, kLevelSamples)));
    PulseCheck check;
    check.marginDb = level > 0 ? 20 * std::log10(level / threshold) : -HUGE_VAL;
    const double quiet = threshold / 2;
    // Written so that a sample that is not a number fails every test.
    const auto inRange = [&](std::size_t from, std::size_t to, auto good) {
        for (std::size_t n = from; n < to; ++n) {
            if (!good(x(n))) {
                return false;
            }
        }
        return true;
    };
    const std::size_t edge = std::min(kEdgeAllowance, onset / 2);
    const std::size_t tolerance = edgeTolerance(length);
    const bool pulseLike = level >= quiet;
    const bool quietBefore =
        inRange(0, onset - edge, [&](double v) { return std::abs(v) <= quiet; });
    // Out of quiet straight up: nothing just before the onset swings the other way, as the body of
    // an inverted pulse whose trailing edge overshoots would.
    const bool risesFromQuiet =
        inRange(onset - edge, onset, [&](double v) { return v >= -level / 8; });
    // The body keeps its polarity, however far it sags.
    const bool bodyHolds = inRange(onset, onset + length - std::min(length, tolerance),
                                   [&](double v) { return v >= -quiet; });
    std::optional<std::size_t> fall;
    const std::size_t fallFrom = onset + length - std::min(length, tolerance + kEdgeWidth);
    for (std::size_t n = fallFrom; n <= onset + length + tolerance && !fall; ++n) {
        if (x(n) - x(n + kEdgeWidth) >= level / 2) {
            fall = n + kEdgeWidth;
        }
    }
    check.isThePulse = pulseLike && quietBefore && risesFromQuiet && bodyHolds && fall;
    if (check.isThePulse) {
        // Past the edge's ringing, which stays well under the threshold, nothing crosses it
        // again; what undershoots (a sagging pulse's coupling capacitors) is no second path.
        double laterPeak = 0;
        for (std::size_t n = *fall + kEdgeWidth; n < onset + pulseCheckSpan(frames); ++n) {
            laterPeak = std::max(laterPeak, x(n));
        }
        if (laterPeak > threshold) {
            check.secondPathDb = std::abs(20 * std::log10(laterPeak / level));
        }
    }
    return check;
}
