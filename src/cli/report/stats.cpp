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

std::vector<LatencyStatistics> latencyStatistics(const std::vector<MeasurementResult>& runs) {
    std::vector<LatencyStatistics> groups;
    std::vector<std::vector<double>> samples;
    std::vector<std::vector<double>> ms;
    for (const MeasurementResult& run : runs) {
        auto group = std::find_if(groups.begin(), groups.end(), [&run](const auto& g) {
            return g.sampleRate == run.sampleRate && g.bufferSize == run.bufferSize;
        });
        if (group == groups.end()) {
            LatencyStatistics setup;
            setup.sampleRate = run.sampleRate;
            setup.bufferSize = run.bufferSize;
            groups.push_back(setup);
            samples.emplace_back();
            ms.emplace_back();
            group = groups.end() - 1;
        }
        const auto index = static_cast<std::size_t>(group - groups.begin());
        ++group->runs;
        switch (run.verdict.verdict) {
        case Verdict::Verified:
            ++group->verified;
            samples[index].push_back(run.latencySamples.value_or(0));
            ms[index].push_back(run.latencyMs().value_or(0));
            break;
        case Verdict::Doubtful:
            ++group->doubtful;
            break;
        case Verdict::NoResult:
            ++group->noResult;
            break;
        }
    }
    for (std::size_t i = 0; i < groups.size(); ++i) {
        if (!samples[i].empty()) {
            groups[i].samples = summarise(samples[i]);
            groups[i].ms = summarise(ms[i]);
        }
    }
    return groups;
}
