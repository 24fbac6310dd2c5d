#pragma once
// One latency measurement, apart from any dialog: armed with a snapshot of the driver's buffers,
// fed one buffer switch at a time on the driver's thread, and read back as a typed result.
//
// Threads. The owner's thread (the user-interface thread) arms, disarms and reads the result; the
// driver's thread calls onBufferSwitch. Fields both touch are atomics: the armed flag, the switch
// count, the sensitivity and the sample rate. Arming stores the snapshot and prepares the method
// while disarmed, then publishes them with the release store of the armed flag, after the switch
// count; the driver's thread reads them only after its acquire load sees the flag set. The switch
// that ends a measurement writes the method's findings and the final count first and clears the
// flag with a release store last, so an owner whose acquire load sees the flag clear reads the
// final state. Ending is reported by the return value, never before that state is final.
//
// The owner must not re-arm or change the snapshot's buffers while a switch may be running: the
// dialog guarantees that by arming only after a result (the flag clear) or while the stream is
// stopped, and by waiting for switches in flight before it frees anything.

#include "asio/asio.h"
#include "engine/sample_format.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

static_assert(std::atomic<double>::is_always_lock_free,
              "the sample rate crosses to the driver's real-time thread");

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
    std::int32_t input = 0;       // the channel that crossed first
    std::int32_t switchIndex = 0; // the armed switch that handed it over
    std::int32_t position = 0;    // within that buffer half
};

struct MeasurementResult {
    MethodKind method = MethodKind::Threshold;
    std::optional<double> latencySamples; // none: nothing came back in time
    double sampleRate = 0;
    std::int32_t bufferSize = 0;
    std::int32_t sensitivity = 0; // the list position in force when the measurement ended
    ASIOLong reportedInputLatency = 0;
    ASIOLong reportedOutputLatency = 0;
    std::optional<ThresholdFindings> threshold;

    std::optional<double> latencyMs() const {
        if (!latencySamples || !(sampleRate > 0)) {
            return std::nullopt;
        }
        return *latencySamples * 1000.0 / sampleRate;
    }
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
    // Owner's thread, after the verdict Ended: the latency and the method's details.
    virtual void describe(MeasurementResult& result) const = 0;
};

// Why a measurement cannot be armed.
enum class ArmRefusal { None, NoBuffers, NoInputChannel, NoOutputChannel, UnsupportedFormat };

// What the owner does after a switch.
enum class SwitchOutcome {
    Unarmed, // nothing happened: the driver gets no outputReady
    Running, // the measurement goes on
    Ended,   // the result is final: tell the owner's thread
};

class Measurement {
public:
    Measurement();
    ~Measurement();
    Measurement(const Measurement&) = delete;
    Measurement& operator=(const Measurement&) = delete;

    // Owner's thread, disarmed. The method used from the next arming on.
    void setMethod(std::unique_ptr<DetectionMethod> method);
    const DetectionMethod& method() const { return *m_method; }

    // Owner's thread. What arming `stream` would refuse, without arming.
    static ArmRefusal check(const StreamSnapshot& stream);
    // Owner's thread: starts a measurement over `stream` (check() must have passed).
    void arm(const StreamSnapshot& stream);
    // Owner's thread: a measurement cut short; its result never comes.
    void disarm() { m_armed.store(false, std::memory_order_release); }
    bool armed() const { return m_armed.load(std::memory_order_acquire); }

    // Driver's thread: one buffer switch on half `doubleBufferIndex`.
    SwitchOutcome onBufferSwitch(ASIOLong doubleBufferIndex);

    // Driver's thread, right after onBufferSwitch reported Ended: the latency in whole samples
    // as the switch knew it, 0 for none.
    std::int64_t endedWholeSamples() const { return m_endedWholeSamples; }

    // Owner's thread, once onBufferSwitch has reported Ended and armed() reads false.
    MeasurementResult result() const;

    void setSensitivity(std::int32_t position) {
        m_sensitivity.store(position, std::memory_order_relaxed);
    }
    std::int32_t sensitivity() const { return m_sensitivity.load(std::memory_order_relaxed); }
    void setSampleRate(double rate) { m_sampleRate.store(rate, std::memory_order_relaxed); }
    double sampleRate() const { return m_sampleRate.load(std::memory_order_relaxed); }
    std::int32_t switchCount() const { return m_switchCount.load(std::memory_order_relaxed); }

private:
    std::unique_ptr<DetectionMethod> m_method;
    StreamSnapshot m_stream{};
    bool m_timedOut = false;              // written with the findings, read with the result
    std::int64_t m_endedWholeSamples = 0; // driver's thread only

    std::atomic<bool> m_armed{false};
    std::atomic<std::int32_t> m_switchCount{0};
    std::atomic<std::int32_t> m_sensitivity{0};
    std::atomic<double> m_sampleRate{0.0};
};
