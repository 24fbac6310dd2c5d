#pragma once
// Statistics of repeated measurements: one group per setup (rate and buffer size), since a
// driver reset may change either between runs, and only verified measurements in the figures.

#include "cli/report/report.h"

#include <cstddef>
#include <optional>
#include <vector>

struct Summary {
    double min = 0;
    double median = 0;
    double max = 0;
    double mean = 0;
    // The sample standard deviation (n - 1): the runs are a sample of what the setup does.
    // 0 for a single value.
    double standardDeviation = 0;
};

struct LatencyStatistics {
    double sampleRate = 0;
    std::int32_t bufferSize = 0;
    std::size_t runs = 0; // measurements made at this setup
    std::size_t verified = 0;
    std::size_t doubtful = 0;
    std::size_t noResult = 0;
    // Of the verified measurements; none when there is none.
    std::optional<Summary> samples;
    std::optional<Summary> ms;
};

// One group per setup, in the order the setups were first measured.
std::vector<LatencyStatistics> latencyStatistics(const std::vector<MeasurementResult>& runs);
