#pragma once
// A sweep's fit per rate: latency = fixed + perBuffer x buffer size, by least squares over the
// verified cells of that rate. With plain double buffering perBuffer is 2, and
// fixed is what converters, cables and safety offsets add, whatever the buffer.

#include "cli/report/report.h"

#include <vector>

struct LatencyFit {
    double sampleRate = 0;
    double fixedSamples = 0;
    double perBuffer = 0;
    int points = 0;
};

// One fit for each rate with at least two different buffer sizes measured, in the order the
// rates first appear.
std::vector<LatencyFit> fitPerRate(const std::vector<MeasurementResult>& cells);

// A rate of the sweep that has no fit, and how many buffer sizes it has verified (fewer than
// two).
struct MissingFit {
    double sampleRate = 0;
    int verifiedSizes = 0;
};

// The rates fitPerRate leaves out, in the order the rates first appear.
std::vector<MissingFit> ratesWithoutFit(const std::vector<MeasurementResult>& cells);
