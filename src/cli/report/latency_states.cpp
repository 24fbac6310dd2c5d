#include "cli/report/latency_states.h"

#include <algorithm>
#include <cmath>

std::vector<LatencyState> latencyStates(const std::vector<MeasurementResult>& results) {
    std::vector<double> latencies;
    for (const MeasurementResult& result : results) {
        if (result.latencySamples && result.verdict.verified()) {
            latencies.push_back(*result.latencySamples);
        }
    }
    std::sort(latencies.begin(), latencies.end());
    // Sorted, each latency joins the state before it while within a sample of its mean.
    std::vector<LatencyState> states;
    for (double latency : latencies) {
        if (states.empty() || std::abs(latency - states.back().samples) > 1.0) {
            states.push_back({latency, 1});
        } else {
            LatencyState& state = states.back();
            state.samples += (latency - state.samples) / static_cast<double>(++state.count);
        }
    }
    std::stable_sort(
        states.begin(), states.end(),
        [](const LatencyState& a, const LatencyState& b) { return a.count > b.count; });
    return states;
}

std::string latencyText(double samples, MethodKind method) {
    return method == MethodKind::Threshold ? formatted("%.0f", samples)
                                           : formatted("%.2f", samples);
}

std::string statesText(const std::vector<LatencyState>& states, MethodKind method) {
    std::string text = formatted("%zu state%s:", states.size(), states.size() == 1 ? "" : "s");
    for (std::size_t i = 0; i < states.size(); ++i) {
        text += (i ? ", " : " ") + latencyText(states[i].samples, method) +
                formatted(" x %zu", states[i].count);
    }
    return text;
}
