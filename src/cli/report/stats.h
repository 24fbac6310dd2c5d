#pragma once
// Statistics of repeated measurements.

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
    std::size_t runs = 0;  // measurements made
    std::size_t found = 0; // of those, how many found the pulse; the figures are theirs
    Summary samples;
    Summary ms;
};

// None when no measurement found the pulse.
std::optional<LatencyStatistics> latencyStatistics(const std::vector<MeasurementResult>& runs);
