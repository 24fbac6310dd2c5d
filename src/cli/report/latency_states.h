#pragma once
// The distinct latencies a set of measurements fell into: a driver that picks one of a few states
// each time its stream opens, or a watch whose latency moved. Verified results only; results
// within one sample of a state's mean belong to it.

#include "cli/report/report.h"

#include <string>
#include <vector>

struct LatencyState {
    double samples = 0; // the mean of its results
    std::size_t count = 0;
};

// The most frequent first; equally frequent ones by latency.
std::vector<LatencyState> latencyStates(const std::vector<MeasurementResult>& results);

// "2 states: 612 x 7, 868 x 3" ("1 state: 544 x 20"), whole samples for the threshold method.
std::string statesText(const std::vector<LatencyState>& states, MethodKind method);

// A latency as the method knows it: whole samples for the threshold, hundredths for correlation.
std::string latencyText(double samples, MethodKind method);
