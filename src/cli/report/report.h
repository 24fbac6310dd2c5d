#pragma once
// What a run of tarvelo-cli measured, as typed values: the renderers (text, JSON, CSV, SVG) make
// their text from it, and derive statistics and fits from the measurements themselves.

#include "engine/detection_method.h"

#include <cstdint>
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
    // What the driver told of its runs, where it tells it: the JACK server's xruns during them.
    std::optional<std::uint64_t> xruns;
    // Whether the driver's latencies are a JACK server's port latencies, which jackd's systemic
    // -I and -O extend.
    bool jackPorts = false;
};

const char* methodName(MethodKind method);
// One word each, for programs: "verified", "doubtful", "noResult"; a reason's kind likewise.
const char* verdictName(Verdict verdict);
const char* reasonName(VerdictReason::Kind kind);

// The input that heard the pulse first, or that carried the loop (from 0); -1 when the method
// names none.
int inputChannel(const MeasurementResult& result);

// What the driver does not report: measured minus its input and output latencies; none when
// nothing came back.
std::optional<double> unreportedSamples(const MeasurementResult& result);

// What to give jackd as its systemic input and output latencies (-I, -O) so that its ports
// declare the whole loop: the unreported latency, rounded, split in two halves (the input's the
// larger). Only the sum is measured; the split is a convention. None when nothing came back, or
// when the driver already reports more than the loop (jackd takes no negative value).
struct JackSystemic {
    long input = 0;
    long output = 0;
};
std::optional<JackSystemic> jackSystemic(const MeasurementResult& result);

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
