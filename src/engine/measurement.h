#pragma once
// One latency measurement, apart from any dialog: armed with a snapshot of the driver's buffers,
// fed one buffer switch at a time on the driver's thread, and read back as a typed result with
// its verdict.
//
// Threads. The owner's thread (the user-interface thread, or a session's) arms, disarms, asks
// for an early end and reads the recording and the result; the driver's thread calls
// onBufferSwitch; noteDriverTrouble may come from any thread the driver calls back on. Fields
// both touch are atomics: the armed flag, the switch count, the sensitivity, the sample rate, the
// end request, the recorded length and the trouble count. Arming stores the snapshot and prepares
// the method, the recorder and the watches while disarmed, then publishes them with the release
// store of the armed flag, after the switch count; the driver's thread reads them only after its
// acquire load sees the flag set. The switch that ends a measurement writes the method's findings
// and the final count first and clears the flag with a release store last, so an owner whose
// acquire load sees the flag clear reads the final state. Ending is reported by the return value,
// never before that state is final. While a run goes on, the recording grows behind a release
// store of its length (engine/recorder.h), so the owner may read what is recorded so far.
//
// The owner must not re-arm or change the snapshot's buffers while a switch may be running: the
// dialog guarantees that by arming only after a result (the flag clear) or while the stream is
// stopped, and by waiting for switches in flight before it frees anything.

#include "engine/detection_method.h"
#include "engine/driver_limits.h"
#include "engine/dropout_watch.h"
#include "engine/quiet_start.h"
#include "engine/recorder.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

static_assert(std::atomic<double>::is_always_lock_free,
              "the sample rate crosses to the driver's real-time thread");

// Why a measurement cannot be armed. check() gives the reasons a stream has; an owner adds
// StreamStopped for buffers whose stream is not running, and ChannelUndescribed for channels
// whose sample format the driver would not give.
enum class ArmRefusal {
    None,
    NoBuffers,
    NoInputChannel,
    NoOutputChannel,
    UnsupportedFormat,
    SampleRateOutOfRange, // not between kMinSampleRate and kMaxSampleRate (or not a number)
    BufferSizeOutOfRange, // not between 1 and kMaxBufferFrames
    TooManyChannels,      // more than kMaxChannels inputs or outputs
    RecordingTooLarge,    // the recording would take more than kMaxRecordingBytes
    StreamStopped,
    ChannelUndescribed, // the driver would not describe a measured channel (getChannelInfo)
};

// What the owner does after a switch.
enum class SwitchOutcome {
    Unarmed, // nothing happened: the driver gets no outputReady
    Running, // the measurement goes on
    Ended,   // the result is final: tell the owner's thread
};

class Measurement {
public:
    explicit Measurement(std::unique_ptr<DetectionMethod> method);
    ~Measurement();
    Measurement(const Measurement&) = delete;
    Measurement& operator=(const Measurement&) = delete;

    // Owner's thread, disarmed. The method used from the next arming on.
    void setMethod(std::unique_ptr<DetectionMethod> method);
    const DetectionMethod& method() const { return *m_method; }

    // Owner's thread. What arming `stream` at the current sample rate would refuse, without
    // arming: its shape, its format, the rate, and the memory its recording would take.
    ArmRefusal check(const StreamSnapshot& stream) const;
    // Owner's thread: starts a measurement over `stream`, unless it refuses; a refusal touches
    // nothing.
    ArmRefusal arm(const StreamSnapshot& stream);
    // Owner's thread: a measurement cut short; its result never comes.
    void disarm() { m_armed.store(false, std::memory_order_release); }
    bool armed() const { return m_armed.load(std::memory_order_acquire); }

    // Driver's thread: one buffer switch on half `doubleBufferIndex`, with what the host knows of
    // it besides (the driver's sample position, the time; engine/dropout_watch.h). A host that
    // knows nothing more gives nothing: the run then watches for dropouts only through what the
    // driver reports.
    SwitchOutcome onBufferSwitch(ASIOLong doubleBufferIndex, const SwitchClock& clock = {});
    // Any thread the driver calls back on, real-time safe: the driver reported a resync, an
    // overload or an xrun (the asioMessage callback calls it for a selector that
    // reportsDropout()). Counts while armed.
    void noteDriverTrouble() {
        if (armed()) {
            m_dropouts.noteTrouble();
        }
    }

    // Driver's thread, right after onBufferSwitch reported Ended: the latency in whole samples
    // as the switch knew it, 0 for none.
    std::int64_t endedWholeSamples() const { return m_endedWholeSamples; }

    // Owner's thread, armed: ends the run at the next switch after which the method's outputs
    // are silent, with the result of what was recorded until then (the owner has found the
    // recording complete). The switch reports Ended as for any end.
    void requestEnd() { m_endRequested.store(true, std::memory_order_relaxed); }
    // Owner's thread, armed: whether what is recorded so far already gives the verified result
    // the rest of the run would (DetectionMethod::complete), so that the run may end now.
    bool recordingComplete() const;

    // Owner's thread, once onBufferSwitch has reported Ended and armed() reads false.
    MeasurementResult result() const;
    // Owner's thread, as result(): one result per input, each judged from that input's recording
    // alone, in the snapshot's order; empty unless the method judgesEveryInput().
    std::vector<MeasurementResult> resultPerInput() const;

    // Owner's thread, disarmed: whether the next measurements record what the outputs played
    // and the inputs heard, over the method's whole run. Off by default: the dialog has no use
    // for it. The inputs are recorded anyway when the method judges them from a recording.
    void setRecording(bool record) { m_recordWanted = record; }
    // Any thread: how many samples of each channel the running or last measurement recorded.
    std::size_t recordedSamples() const { return m_recorder.published(); }
    // Owner's thread, during a run or after it: the recording up to recordedSamples(), empty
    // when none is made. Valid until the next arm().
    const Recording& recording() const { return m_recorder.converted(); }

    // Owner's thread, disarmed: whether the next measurements first listen until the inputs are
    // quiet (engine/quiet_start.h). Off by default: the dialog starts at once.
    void setQuietStart(std::optional<QuietStart> quietStart) { m_quietStart = quietStart; }

    void setSensitivity(std::int32_t position) {
        m_sensitivity.store(position, std::memory_order_relaxed);
    }
    std::int32_t sensitivity() const { return m_sensitivity.load(std::memory_order_relaxed); }
    void setSampleRate(double rate) { m_sampleRate.store(rate, std::memory_order_relaxed); }
    double sampleRate() const { return m_sampleRate.load(std::memory_order_relaxed); }
    // The method's armed switches so far (listening to the inputs does not count).
    std::int32_t switchCount() const { return m_switchCount.load(std::memory_order_relaxed); }

private:
    enum class RunEnd { Method, TimedOut, NeverQuiet };

    bool records() const { return m_recordWanted || m_method->needsRecording(); }
    std::int64_t recordedChannels(const StreamSnapshot& stream) const;
    SwitchOutcome end(RunEnd how, std::int64_t wholeSamples, std::int32_t finalCount);
    MeasurementResult resultFrom(const Recording& recorded) const;

    std::unique_ptr<DetectionMethod> m_method;
    StreamSnapshot m_stream{};
    RunEnd m_runEnd = RunEnd::Method;     // written with the findings, read with the result
    std::int64_t m_endedWholeSamples = 0; // driver's thread only
    bool m_recordWanted = false;
    bool m_recordingOn = false;   // as armed
    bool m_recordOutputs = false; // as armed
    // Converted on the owner's thread when read; the driver's thread only copies into it.
    mutable Recorder m_recorder;
    std::optional<QuietStart> m_quietStart;
    bool m_listening = false; // driver's thread while armed
    QuietListener m_listener;
    DropoutWatch m_dropouts;

    std::atomic<bool> m_armed{false};
    std::atomic<bool> m_endRequested{false};
    std::atomic<std::int32_t> m_switchCount{0};
    std::atomic<std::int32_t> m_sensitivity{0};
    std::atomic<double> m_sampleRate{0.0};
};
