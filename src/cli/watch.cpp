#include "cli/watch.h"

#include "cli/report/latency_states.h"

#include <algorithm>
#include <cmath>

namespace {

// A drift is flagged once the fit has this many points over this much stream time and its slope
// stands this many standard errors clear of none.
constexpr std::size_t kDriftPoints = 10;
constexpr double kDriftSpanSeconds = 1;
constexpr double kDriftSignificance = 4;

// The variance of a latency rounded to whole samples (a uniform error over one sample).
constexpr double kWholeSampleVariance = 1.0 / 12;

// Readings further apart than this (samples, after the drift found so far) differ.
constexpr double kChangeSamples = 1;

// "a reset", "an xrun", "3 xruns".
std::string countOf(std::int64_t count, const char* one, const char* many) {
    return count == 1 ? std::string(one)
                      : formatted("%lld %s", static_cast<long long>(count), many);
}

} // namespace

std::vector<std::string> LatencyWatch::add(const WatchReading& reading) {
    std::vector<std::string> flags;
    const auto flagChange = [&](std::string text) {
        m_changes.push_back({m_results.size(), reading.seconds, text});
        flags.push_back(std::move(text));
    };
    const MeasurementResult& result = reading.result;
    if (m_previous) {
        const MeasurementResult& before = m_previous->result;
        if (before.bufferSize != result.bufferSize) {
            flagChange(formatted("buffer size changed: %d -> %d samples",
                                 static_cast<int>(before.bufferSize),
                                 static_cast<int>(result.bufferSize)));
            m_newStretch = true;
        }
        if (before.sampleRate != result.sampleRate) {
            flagChange(formatted("sample rate changed: %.0f -> %.0f Hz", before.sampleRate,
                                 result.sampleRate));
            m_newStretch = true;
        }
    }
    const int resets = reading.resets - (m_previous ? m_previous->resets : 0);
    m_newStretch = m_newStretch || resets > 0;
    std::string cause = changeCause(reading);

    if (result.latencySamples && result.verdict.verified()) {
        const double latency = *result.latencySamples;
        if (m_previousVerified && m_previousVerified->result.sampleRate == result.sampleRate) {
            const double before = *m_previousVerified->result.latencySamples;
            const double drifted =
                m_driftFlagged ? fit().slope * (reading.seconds - m_previousVerified->seconds) *
                                     result.sampleRate
                               : 0;
            if (std::abs(latency - before - drifted) > kChangeSamples) {
                flagChange("latency changed: " + latencyText(before, result.method) + " -> " +
                           latencyText(latency, result.method) + " samples" +
                           (cause.empty() ? "" : " " + cause));
                cause.clear();
                m_newStretch = true;
            }
        }
        if (result.method == MethodKind::Threshold) {
            m_roundingVariance = std::max(
                m_roundingVariance, kWholeSampleVariance / (result.sampleRate * result.sampleRate));
        }
        fitPoint(reading.seconds, latency / result.sampleRate);
        m_previousVerified = reading;
    }
    if (!cause.empty()) {
        flags.push_back(std::move(cause));
    }
    if (!m_driftFlagged) {
        const Fit found = fit();
        if (found.points >= kDriftPoints && found.span >= kDriftSpanSeconds &&
            std::abs(found.slope) > kDriftSignificance * found.error) {
            m_driftFlagged = true;
            flagChange(formatted("drifting: %+.1f ppm", found.slope * 1e6));
        }
    }
    m_previous = reading;
    m_results.push_back(result);
    m_seconds = reading.seconds;
    return flags;
}

std::string LatencyWatch::changeCause(const WatchReading& reading) const {
    const int resets = reading.resets - (m_previous ? m_previous->resets : 0);
    const std::int64_t xruns = reading.xruns - (m_previous ? m_previous->xruns : 0);
    std::string cause;
    if (resets > 0) {
        cause = "after " + countOf(resets, "a reset", "resets");
    }
    if (xruns > 0) {
        cause += (cause.empty() ? "after " : " and ") + countOf(xruns, "an xrun", "xruns");
    }
    return cause;
}

void LatencyWatch::fitPoint(double seconds, double latencySeconds) {
    if (m_newStretch) {
        m_stretches.push_back({.t0 = seconds, .y0 = latencySeconds});
        m_newStretch = false;
    }
    Stretch& s = m_stretches.back();
    const double t = seconds - s.t0;
    const double y = latencySeconds - s.y0;
    s.n += 1;
    s.t += t;
    s.y += y;
    s.tt += t * t;
    s.ty += t * y;
    s.yy += y * y;
    s.last = t;
}

LatencyWatch::Fit LatencyWatch::fit() const {
    // One slope for every stretch, each with an intercept of its own.
    double sxx = 0;
    double sxy = 0;
    double syy = 0;
    double points = 0;
    Fit found;
    for (const Stretch& s : m_stretches) {
        sxx += s.tt - s.t * s.t / s.n;
        sxy += s.ty - s.t * s.y / s.n;
        syy += s.yy - s.y * s.y / s.n;
        points += s.n;
        found.span += s.last;
    }
    found.points = static_cast<std::size_t>(points);
    const double freedom = points - static_cast<double>(m_stretches.size()) - 1;
    if (!(sxx > 0) || freedom < 1) {
        found.points = 0;
        return found;
    }
    found.slope = sxy / sxx;
    // Readings in whole samples vary by at least their rounding, however steady they look.
    const double variance = std::max((syy - found.slope * sxy) / freedom, m_roundingVariance);
    found.error = std::sqrt(variance / sxx);
    return found;
}

std::optional<DriftEstimate> LatencyWatch::drift() const {
    const Fit found = fit();
    if (found.points < 3) {
        return std::nullopt;
    }
    return DriftEstimate{found.slope * 1e6, found.error * 1e6, found.span, found.points};
}
