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

// A first path's plateau lies below this share of the pulse's full level; a converter's edge
// climbs past it without pausing.
constexpr double kPlateauShare = 0.85;
// A pause on the edge: a sample that moved less than this share of the full level.
constexpr double kPauseShare = 0.08;
// A later path adds at least this share of the full level, more than a converter's edge rings.
constexpr double kStepShare = 0.15;

// A second path inside the pulse shows as a staircase on one of its edges: the input climbs to
// a plateau above the threshold, pauses there, then steps up again (where a second path starts
// while the first plays), or steps down, pauses and falls again (where one ends before the
// other). `edge` is read in the direction of the climb: the leading edge forward, the trailing
// edge backward. `noise`: the largest swing the input showed before the pulse. The level between
// the two paths, in dB.
std::optional<double> pausedStep(std::span<const float> edge, bool backward, double threshold,
                                 double noise) {
    if (edge.size() < 3) {
        return std::nullopt;
    }
    const auto at = [&](std::size_t k) {
        return static_cast<double>(edge[backward ? edge.size() - 1 - k : k]);
    };
    const double full = *std::max_element(edge.begin(), edge.end());
    const double step = kStepShare * full + 2 * noise;
    double reached = at(0);
    for (std::size_t k = 1; k + 1 < edge.size(); ++k) {
        reached = std::max(reached, at(k));
        if (full - reached < step) {
            break; // nothing further can climb that far above what the input already reached
        }
        const bool paused = std::abs(at(k) - at(k - 1)) <= kPauseShare * full + 2 * noise;
        if (!paused || at(k) < threshold || at(k) > kPlateauShare * full) {
            continue;
        }
        double further = at(k + 1);
        for (std::size_t n = k + 2; n < edge.size(); ++n) {
            further = std::max(further, at(n));
        }
        if (further - reached >= step) {
            return std::abs(20 * std::log10((further - reached) / reached));
        }
    }
    return std::nullopt;
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
        double noise = 0;
        for (std::size_t n = 0; n < onset - edge; ++n) {
            noise = std::max(noise, std::abs(x(n)));
        }
        const std::size_t fallEnd = onset + pulseSpan(length);
        check.secondPathDb =
            pausedStep(input.subspan(onset, fallFrom - onset), false, threshold, noise);
        if (!check.secondPathDb) {
            check.secondPathDb =
                pausedStep(input.subspan(fallFrom, fallEnd - fallFrom), true, threshold, noise);
        }
        // Past the edge's ringing, which stays well under the threshold, nothing crosses it
        // again; what undershoots (a sagging pulse's coupling capacitors) is no second path.
        double laterPeak = 0;
        for (std::size_t n = *fall + kEdgeWidth; n < onset + pulseCheckSpan(frames); ++n) {
            laterPeak = std::max(laterPeak, x(n));
        }
        if (laterPeak > threshold && !check.secondPathDb) {
            check.secondPathDb = std::abs(20 * std::log10(laterPeak / level));
        }
    }
    return check;
}
