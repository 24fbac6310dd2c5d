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
    Matrix, // each chosen output in turn, every chosen input listened to
};

// One output and one input of a channel matrix, by the driver's channel numbers, with what the
// input heard of the output; a result without a latency where nothing returned.
struct MatrixCell {
    std::int32_t output = 0;
    std::int32_t input = 0;
    MeasurementResult result;
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
    // The driver's channel names by channel number (empty where it gives none).
    std::vector<std::string> inputNames;
    std::vector<std::string> outputNames;
    // RunKind::Matrix: output by output, each chosen input in turn.
    std::vector<MatrixCell> matrix;
    // What the driver told of its runs, where it tells it: the JACK server's xruns during them.
    std::optional<std::uint64_t> xruns;
    // Whether the driver's latencies are a JACK server's port latencies, which jackd's systemic
    // -I and -O extend.
    bool jackPorts = false;
};

// The input the result's latency was heard on: the first to cross the threshold, or the one that
// carried the loop; none when nothing came back.
std::optional<std::int32_t> inputHeard(const MeasurementResult& result);

// The outputs a result played on and the input that heard it, in words: `output 0 "Out 1" ->
// input 2 "In 3"`; "no input" when nothing came back.
std::string channelsText(const MeasurementResult& result, const Report& report);

// Whether nothing of the stimulus came back at all (a matrix's "no path"), rather than something
// no result could be made of.
bool returnedNothing(const MeasurementResult& result);

// A matrix pair's latency in samples as its method measures it (whole samples for the threshold,
// two decimals for the correlation), or "no path", or "no result" when something came back that
// gave none.
std::string pairLatencyText(const MeasurementResult& result);

// The driver's name for a channel; empty where it gives none.
std::string channelName(std::int32_t channel, const std::vector<std::string>& names);

// The matrix's channels of each kind, in the order they were measured.
std::vector<std::int32_t> matrixOutputs(const std::vector<MatrixCell>& cells);
std::vector<std::int32_t> matrixInputs(const std::vector<MatrixCell>& cells);

// A channel as a user finds it in --output and --input: its number and the driver's name for it.
std::string channelLabel(std::int32_t channel, const std::vector<std::string>& names);

const char* methodName(MethodKind method);
// One word each, for programs: "verified", "doubtful", "noResult"; a reason's kind likewise.
const char* verdictName(Verdict verdict);
const char* reasonName(VerdictReason::Kind kind);
// The verdict in one word for people: "verified", "doubtful" or "none".
const char* verdictWord(Verdict verdict);

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
