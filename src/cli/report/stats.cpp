#include "cli/report/stats.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

Summary summarise(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    Summary summary;
    summary.min = values.front();
    summary.max = values.back();
    summary.median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    summary.mean = std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(n);
    double squares = 0;
    for (double value : values) {
        squares += (value - summary.mean) * (value - summary.mean);
    }
    summary.standardDeviation = n > 1 ? std::sqrt(squares / static_cast<double>(n - 1)) : 0;
    return summary;
}

} // namespace

std::optional<LatencyStatistics> latencyStatistics(const std::vector<MeasurementResult>& runs) {
    std::vector<double> samples;
    std::vector<double> ms;
    for (const MeasurementResult& run : runs) {
        if (run.latencySamples) {
            samples.push_back(*run.latencySamples);
            ms.push_back(run.latencyMs().value_or(0));
        }
    }
    if (samples.empty()) {
        return std::nullopt;
    }
    return LatencyStatistics{runs.size(), samples.size(), summarise(samples), summarise(ms)};
}
