#pragma once
// What a measurement method sees and decides: the driver's buffers as a snapshot, the verdict of
// each armed buffer switch, and the typed result. A method plugs into a Measurement
// (engine/measurement.h), which owns what crosses threads.

#include "asio/asio.h"
#include "engine/correlation.h"
#include "engine/sample_format.h"
#include "engine/verdict.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// The driver's buffers as a measurement sees them: one record per channel, inputs first.
struct StreamSnapshot {
    ASIOBufferInfo* channels = nullptr;
    std::int32_t numInputs = 0;
    std::int32_t numOutputs = 0;
    std::int32_t frames = 0; // per buffer half
    SampleLayout layout{};
    // What the driver reported at allocation, carried into the result.
    ASIOLong reportedInputLatency = 0;
    ASIOLong reportedOutputLatency = 0;

    void* input(std::int32_t channel, int half) const { return channels[channel].buffers[half]; }
    void* output(std::int32_t channel, int half) const {
        return channels[numInputs + channel].buffers[half];
    }
    std::size_t halfBytes() const {
        return static_cast<std::size_t>(frames) * static_cast<std::size_t>(layout.bytes);
    }
};

enum class MethodKind { Threshold, Correlation };

// What the threshold method saw when it found the pulse.
struct ThresholdFindings {
    std::int32_t input = 0;       // the input that crossed first (see MeasurementResult)
    std::int32_t switchIndex = 0; // the armed switch that handed it over
    std::int32_t position = 0;    // within that buffer half
    double marginDb = 0;          // the pulse's level over the threshold, in dB
};

struct MeasurementResult {
    MethodKind method = MethodKind::Threshold;
    std::optional<double> latencySamples; // none: nothing came back in time
    double sampleRate = 0;
    std::int32_t bufferSize = 0;
    std::int32_t sensitivity = 0; // the list position in force when the measurement ended
    ASIOLong reportedInputLatency = 0;
    ASIOLong reportedOutputLatency = 0;
    // The inputs the findings name are positions among the snapshot's inputs; a session that
    // measures with chosen channels turns them into the driver's channel numbers.
    std::optional<ThresholdFindings> threshold;
    std::optional<CorrelationFindings> correlation;
    // The driver's outputs that played the stimulus, by channel number; the session fills them in.
    std::vector<std::int32_t> outputsPlayed;
    // Reasons from the method and from the run, settled by the measurement; see engine/verdict.h.
    ResultVerdict verdict;

    std::optional<double> latencyMs() const {
        if (!latencySamples || !(sampleRate > 0)) {
            return std::nullopt;
        }
        return *latencySamples * 1000.0 / sampleRate;
    }
};

// What the outputs were handed and the inputs brought during a measurement, on one timeline:
// sample n of every channel belongs to armed switch n / B, position n % B. Output sample n comes
// back as input sample n + D on a loop whose round trip is D samples. Normalised: 1.0 is full
// scale. Inputs are recorded as the driver handed them over, before the first switch silences
// anything; outputs as the method left them. Each channel holds at least `length` samples.
struct Recording {
    double sampleRate = 0;
    std::int32_t bufferSize = 0;
    std::vector<std::vector<float>> outputs;
    std::vector<std::vector<float>> inputs;
    std::size_t length = 0; // samples recorded in each channel
};

// What one armed buffer switch decided.
struct SwitchVerdict {
    enum Kind {
        Continue, // keep going
        Ended,    // the method has its findings
        TimedOut, // nothing came back within the method's time limit
    } kind = Continue;
    // With Ended: the latency in whole samples, as far as the switch already knows it (0 when
    // only the analysis off this thread will tell).
    std::int64_t wholeSamples = 0;
};

// A way of measuring: what the outputs carry at each armed switch and how the inputs are judged.
class DetectionMethod {
public:
    virtual ~DetectionMethod() = default;
    virtual MethodKind kind() const = 0;
    // Owner's thread, disarmed: ready the method for a run over `stream`. May allocate.
    virtual void prepare(const StreamSnapshot& stream, double sampleRate) = 0;
    // Driver's thread: armed switch `index` (0 for the first) on buffer half `half`, with the
    // threshold and the rate as they stand now. Real-time: no allocation, lock or wait.
    virtual SwitchVerdict onSwitch(const StreamSnapshot& stream, int half, std::int32_t index,
                                   std::int32_t threshold32, double sampleRate) = 0;
    // The most armed switches a run over `stream` can take, for sizing a recording. Asked before
    // prepare() (to refuse a recording too large) and after it (to size one): the answer must
    // not depend on a previous run.
    virtual std::int64_t switchLimit(const StreamSnapshot& stream, double sampleRate) const = 0;
    // Whether the method judges the inputs from a recording; the measurement then records them
    // from the first armed switch on, and the outputs too when its owner asks.
    virtual bool needsRecording() const { return false; }
    // Whether describe() judges any input the recording holds on its own, so that each input
    // can be given a result of its own (the method ends when the stimulus is over, not when an
    // input hears it).
    virtual bool judgesEveryInput() const { return false; }
    // Driver's thread: whether a run that ends right after armed switch `index` leaves nothing
    // of the stimulus in either output half (which would play on after the end). The measurement
    // ends a run early, when its owner asks, only after such a switch.
    virtual bool canEndAfter(std::int32_t /*index*/) const { return true; }
    // Owner's thread, while the driver's thread goes on recording: whether the first `recorded`
    // samples of every input already give the verified result the rest of the run would, so that
    // the owner may end the run (Measurement::requestEnd). The driver's thread must have written
    // them before it published `recorded`.
    virtual bool complete(const Recording& /*recording*/, std::size_t /*recorded*/) const {
        return false;
    }
    // Owner's thread, after the run ended (its verdict Ended, TimedOut, or an early end): the
    // latency, none when the method has no result, and the method's details; `recording` holds
    // what was recorded. Adds to result.verdict.reasons why there is no latency, or why it
    // doubts the one it gives; the measurement adds what the run itself saw and settles the
    // verdict.
    virtual void describe(MeasurementResult& result, const Recording& recording) const = 0;
};
