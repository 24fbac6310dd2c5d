#pragma once
// What a watch makes of its readings as they come: each compared with the one before, a change
// of latency flagged with what came between them (a reset, xruns, a new buffer size or rate),
// and the drift of a loop whose input and output run on different clocks, from a straight-line
// fit of latency against stream time.
//
// The fit is pooled over stretches: a flagged change, a reset or a new setup begins a new one,
// and only the slope within each counts, so a jump is never taken for drift. Only verified
// readings are compared and fitted.

#include "cli/report/report.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct WatchReading {
    double seconds = 0; // stream time since the watch began
    MeasurementResult result;
    std::int64_t xruns = 0; // overloads the driver reported since the watch began
    int resets = 0;         // resets taken since the watch began
};

struct DriftEstimate {
    double ppm = 0;         // the loop's delay grows by this much per second of stream time, x 1e6
    double ppmError = 0;    // the fit's standard error
    double spanSeconds = 0; // stream time the fitted stretches cover
    std::size_t points = 0;
};

struct FlaggedChange {
    std::size_t reading = 0; // its position among the readings, from 0
    double seconds = 0;
    std::string text;
};

class LatencyWatch {
public:
    // Takes the next reading: the flags it raises, in the order they read ("latency changed:
    // 356 -> 612 samples after a reset", "drifting: +3.1 ppm", "after 2 xruns").
    std::vector<std::string> add(const WatchReading& reading);

    // None until three verified readings span some stream time.
    std::optional<DriftEstimate> drift() const;
    // Latency changes and the first drift, in the order flagged.
    const std::vector<FlaggedChange>& changes() const { return m_changes; }
    const std::vector<MeasurementResult>& results() const { return m_results; }
    double seconds() const { return m_seconds; }

private:
    // Sums of one stretch, about its first point (t in seconds, y the latency in seconds).
    struct Stretch {
        double t0 = 0;
        double y0 = 0;
        double n = 0, t = 0, y = 0, tt = 0, ty = 0, yy = 0;
        double last = 0; // the last point's t
    };
    struct Fit {
        double slope = 0;
        double error = 0;
        double span = 0;
        std::size_t points = 0;
    };
    Fit fit() const;
    void fitPoint(double seconds, double latencySeconds);
    std::string changeCause(const WatchReading& reading) const;

    std::vector<MeasurementResult> m_results;
    std::optional<WatchReading> m_previous;         // the last reading of any verdict
    std::optional<WatchReading> m_previousVerified; // the last one to compare latencies with
    std::vector<Stretch> m_stretches;
    bool m_newStretch = true;
    bool m_driftFlagged = false;
    double m_roundingVariance = 0; // seconds squared: of the coarsest readings fitted
    double m_seconds = 0;
    std::vector<FlaggedChange> m_changes;
};
