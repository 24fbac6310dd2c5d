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

#include "engine/detection_method.h"

#include <atomic>
#include <cstdint>
#include <memory>

static_assert(std::atomic<double>::is_always_lock_free,
              "the sample rate crosses to the driver's real-time thread");

// Why a measurement cannot be armed. check() gives the reasons a stream has; an owner adds
// StreamStopped for buffers whose stream is not running.
enum class ArmRefusal {
    None,
    NoBuffers,
    NoInputChannel,
    NoOutputChannel,
    UnsupportedFormat,
    StreamStopped,
};

// What the owner does after a switch.
enum class SwitchOutcome {
    Unarmed, // nothing happened: the driver gets no outputReady
    Running, // the measurement goes on
    Ended,   // the result is final: tell the owner's thread
};

inline constexpr double kMaxRecordingSeconds = 30;

class Measurement {
public:
    explicit Measurement(std::unique_ptr<DetectionMethod> method);
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

    // Owner's thread, disarmed: whether the next measurements record what the outputs played
    // and the inputs heard (at most kMaxRecordingSeconds). Off by default: the dialog has no use
    // for it.
    void setRecording(bool record) { m_recordWanted = record; }
    // Owner's thread, after the end: the last measurement's recording, empty when none was made.
    const Recording& recording() const { return m_recording; }

    void setSensitivity(std::int32_t position) {
        m_sensitivity.store(position, std::memory_order_relaxed);
    }
    std::int32_t sensitivity() const { return m_sensitivity.load(std::memory_order_relaxed); }
    void setSampleRate(double rate) { m_sampleRate.store(rate, std::memory_order_relaxed); }
    double sampleRate() const { return m_sampleRate.load(std::memory_order_relaxed); }
    std::int32_t switchCount() const { return m_switchCount.load(std::memory_order_relaxed); }

private:
    void prepareRecording();
    void record(int half, std::int32_t index); // driver's thread

    std::unique_ptr<DetectionMethod> m_method;
    StreamSnapshot m_stream{};
    bool m_timedOut = false;              // written with the findings, read with the result
    std::int64_t m_endedWholeSamples = 0; // driver's thread only
    bool m_recordWanted = false;
    bool m_recordingOn = false;
    Recording m_recording; // sized at arming, filled by the driver's thread

    std::atomic<bool> m_armed{false};
    std::atomic<std::int32_t> m_switchCount{0};
    std::atomic<std::int32_t> m_sensitivity{0};
    std::atomic<double> m_sampleRate{0.0};
};
