#pragma once
// What a channel matrix shows beyond its cells, named as a user would look for it: a pair whose
// latency stands apart from the rest (a digital port among analog ones), an input that hears
// several outputs (a mixer route), two channels whose outputs reach each other's inputs (a
// swapped pair of cables), an output no input hears.

#include "cli/report/report.h"

#include <cstdint>
#include <vector>

// Latencies closer than this to the matrix's median count as the same.
inline constexpr double kLatencyApartSamples = 1.0;

struct MatrixFinding {
    enum Kind {
        LatencyApart,   // the pair output -> input; samples: its latency less the median
        SeveralOutputs, // input hears every one of outputs
        Swapped,        // output is heard on input and input's output on output's input
        HeardNowhere,   // output reaches no chosen input
    } kind;
    std::int32_t output = -1;
    std::int32_t input = -1;
    std::vector<std::int32_t> outputs{};
    double samples = 0;
    double medianSamples = 0; // LatencyApart: what the other pairs take
};

// A pair counts as heard when it has a latency, verified or doubtful. Outputs and inputs are
// paired by channel number for the swaps.
std::vector<MatrixFinding> matrixFindings(const std::vector<MatrixCell>& cells);

// A finding in words, its channels numbered and named.
std::string matrixFindingText(const MatrixFinding& finding, const Report& report);
