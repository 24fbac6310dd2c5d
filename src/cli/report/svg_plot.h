#pragma once
// Pictures of a report as SVG documents that any browser opens.

#include "cli/report/report.h"

#include <string>

// The input that carried the pulse, around the onset (around what it heard loudest when no
// latency came of it, and the legend says what it heard), with the detection threshold and the
// onset marked. The horizontal axis counts samples from the instant the stimulus left, as the
// latency does, so that the mark of a latency stands at its own value.
std::string onsetPlot(const MeasurementResult& result, const Recording& recording);

// Latency in ms against buffer size, one colour per rate: the measured latency, what the driver
// reports (input plus output), and the fit of each rate.
std::string sweepPlot(const Report& report);

// A channel matrix as a grid, outputs down and inputs across: each pair coloured by its verdict
// (grey where no path returned) with its latency written in, the pairs a finding names outlined,
// and the findings listed under the grid.
std::string matrixPlot(const Report& report);
