#pragma once
// What a run of tarvelo-cli measured, as typed values: the renderers (text, JSON, CSV, SVG) make
// their text from it, and derive statistics and fits from the measurements themselves.

#include "engine/detection_method.h"

#include <optional>
#include <string>
#include <vector>

enum class RunKind {
    Single, // one measurement
    Repeat, // several on one setup, with statistics
    Sweep,  // one per buffer size and rate, with a fit per rate
    Reopen, // several, each on a stream started afresh, with statistics and the states found
};

// Why a run ended before it had made every measurement it was to make.
struct RunFailure {
    std::string kind{};    // one word for programs, e.g. "driverStoppedCallingBack"
    std::string message{}; // what tarvelo-cli said about it on standard error
    // The setup of the measurement that could not be made.
    double sampleRate = 0;
    std::int32_t bufferSize = 0;
};

struct Report {
    std::string driver;
    RunKind kind = RunKind::Single;
    // In the order they were made: runs of one setup, or a sweep's cells rate by rate.
    std::vector<MeasurementResult> measurements;
    std::size_t planned = 0; // measurements the run was to make
    std::optional<RunFailure> failure;
};

const char* methodName(MethodKind method);

// What the driver does not report: measured minus its input and output latencies; none when
// nothing came back.
std::optional<double> unreportedSamples(const MeasurementResult& result);

// `samples` in milliseconds at `sampleRate`.
double toMs(double samples, double sampleRate);

// printf into a string, for the renderers. Checked as GNU printf on every target: mingw's C++
// library formats that way too (%zu included), where plain "printf" would be checked as
// Microsoft's.
std::string formatted(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(gnu_printf, 1, 2)))
#endif
    ;
