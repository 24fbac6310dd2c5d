#pragma once
// The measurement session: one driver of the catalog, opened and probed; its typed lists of
// sample rates and buffer sizes and its channels; the channel array and the driver's buffers;
// the stream; and the one Measurement armed over them. What the driver asks for (a reset, a new
// rate) and the results reach the owner as typed events through its sink.
//
// States, and what leads from one to the next (each operation checks the state it needs):
//   Closed  --open-->  Open  --prepare-->  Prepared  --start-->  Running  --arm-->  Armed
//   Armed --collectResult--> Running;  stop: Running/Armed --> Prepared;  disposeBuffers: --> Open;
//   close, closeForReset: --> Closed.
// stop() and disposeBuffers() are teardown: they are passed to the driver whenever one is open,
// whatever the state, as a driver may hold on to a stream or buffers the session gave up.
//
// Threads. The owner's thread (the one that made the session) calls every operation. The driver
// calls the host callbacks (session/host_callbacks.h) on a thread of its choosing; they reach
// the active session through the callback gate, feed the measurement, note the reset request and
// post events, and never wait for the owner. What crosses threads is the measurement's (its
// contract is in engine/measurement.h), the reset-pending flag, the switch and trouble counters,
// and the driver pointer and channel array, which the owner changes only while no callback can be
// inside: before it frees buffers or closes the driver it waits at the gate for callbacks in
// flight.
//
// The owner never waits for itself. A driver may call back on the owner's thread from inside an
// operation of the session (setSampleRate, controlPanel, createBuffers, ...); such a callback
// takes effect at once (the new rate, the reset marked pending) but its events are held and
// delivered to the sink once the owner is out of the session. holdEvents() stretches that over an
// owner's own sequence of operations, such as a whole command handler.

#include "catalog/driver_catalog.h"
#include "engine/measurement.h"
#include "session/channel_array.h"
#include "session/session_events.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// The only sample rates ever offered, in the order the driver is asked about them.
inline constexpr std::array<ASIOSampleRate, 6> kCandidateRates{22050, 32000, 44100,
                                                               48000, 96000, 192000};
// The probe's buffers take at most this many channels each way.
inline constexpr std::int32_t kPreviewChannels = 2;

// What getBufferSize reports, in samples; granularity -1 means powers of two.
struct BufferSizeLimits {
    std::int32_t minSize = 0;
    std::int32_t maxSize = 0;
    std::int32_t preferredSize = 0;
    std::int32_t granularity = 0;
};

enum class SessionState { Closed, Open, Prepared, Running, Armed };

enum class OpenResult {
    Opened,
    NotCreated,     // the catalog could not create the driver
    NotInitialised, // its init failed
    NoMemory,       // the probe's channel array could not be made
};

class MeasurementSession {
public:
    // Borrows the catalog and the sink, which must outlive the session. The session becomes the
    // one the host callbacks reach.
    MeasurementSession(DriverCatalog& catalog, SessionEvents& events);
    ~MeasurementSession();
    MeasurementSession(const MeasurementSession&) = delete;
    MeasurementSession& operator=(const MeasurementSession&) = delete;

    // The driver: probe opens the driver at catalog position `index`, gives it buffers for at
    // most kPreviewChannels each way at its preferred size, shows its control panel, and closes
    // it again. open makes the driver at `index` the session's: its rate, buffer sizes, the
    // candidate rates it accepts and its full channel counts. A driver that fails init is
    // released again.
    OpenResult probe(int index);
    OpenResult open(int index);
    // Stops the stream, waits for callbacks in flight, disposes of the buffers and closes the
    // driver.
    void close();
    // The driver's reset request, taken: the request is no longer pending, and the driver is
    // stopped, its buffers disposed of and closed, with or without buffers, as a reset demands.
    void closeForReset();
    // closeForReset, then open the same driver again with the rate and buffer size the owner
    // chose, where it still offers them. A driver that cannot be opened again is a driver
    // failure, posted to the sink as well.
    OpenResult reset();

    // Setup, while open without buffers.
    // The driver's answer; on ASE_OK the rate is in force and both lists are read again.
    ASIOError setSampleRate(ASIOSampleRate rate);
    // One of bufferSizes(); false for any other size.
    bool setBufferSize(std::int32_t size);
    // False when the selection does not fit the driver's channels; empty groups take every
    // channel of their kind.
    bool selectChannels(ChannelSelection selection);
    // The channels the next stream takes: the selection, every channel for an empty group.
    ChannelSelection channelsChosen() const;
    // Asks the driver for every channel's name (getChannelInfo); empty names where it refuses.
    void readChannelNames();

    // The stream. prepare makes the channel array for the chosen channels and the driver's
    // buffers at bufferSize(), then reads the latencies and the sample format of the first
    // channel each way; arm refuses a stream whose driver would not give that format.
    ASIOError prepare();
    ASIOError start();
    // None when armed; a stream it cannot measure is refused, and nothing is written to it.
    ArmRefusal arm();
    // Armed: ends the run at the next switch that allows it once what is recorded already gives
    // the verified result the whole run would (Measurement::recordingComplete). An owner that
    // waits for the result calls it now and then; it looks again only at a recording that grew
    // by an eighth.
    void endEarlyIfComplete();
    // Whether endEarlyIfComplete may end a run; on by default. Off, every run records as long as
    // its method allows.
    void setEndEarly(bool endEarly) { m_endEarly = endEarly; }
    // The ended measurement's result; none when no armed measurement has ended since arming
    // (a result event that a reset or a re-arm made stale). Its channels are the driver's.
    std::optional<MeasurementResult> collectResult();
    // After collectResult, until the next arm: one result per input, each judged alone, for a
    // method that judgesEveryInput(); empty otherwise.
    std::vector<MeasurementResult> resultPerInput() const;
    ASIOError stop();
    void disposeBuffers();

    // Events from callbacks on this thread are held until the last hold ends.
    class EventHold {
    public:
        explicit EventHold(MeasurementSession& session);
        ~EventHold();
        EventHold(const EventHold&) = delete;
        EventHold& operator=(const EventHold&) = delete;

    private:
        MeasurementSession& m_session;
    };
    [[nodiscard]] EventHold holdEvents() { return EventHold(*this); }
    bool holdingEvents() const { return m_holdDepth > 0; }
    // An event the owner was handed while holding and cannot act on yet: posted to the sink
    // again once the hold ends, without its notice.
    void deliverAfterHold(const SessionEvent& event);

    // Whether a failed operation also asks the driver why (getErrorMessage). Off by default: an
    // owner that keeps an exact order of driver calls has no such call in it.
    void setExplainFailures(bool explain) { m_explainFailures = explain; }
    // The driver's own words about the last failure, when asked for; empty when it had none.
    const std::string& driverMessage() const { return m_driverMessage; }

    SessionState state() const;
    Measurement& measurement() { return m_measurement; }
    const Measurement& measurement() const { return m_measurement; }
    // Buffer switches the driver has made since the session began, armed or not.
    std::int64_t switchesSeen() const { return m_switches.load(std::memory_order_relaxed); }
    // Overloads and resyncs the driver reported since the session began (a JACK server's xruns),
    // armed or not. Counted only: they do not make a result doubtful.
    std::int64_t troubleReported() const {
        return m_troubleReports.load(std::memory_order_relaxed);
    }

    const std::vector<ASIOSampleRate>& rates() const { return m_rates; }
    std::vector<std::int32_t> bufferSizes() const;
    const std::vector<std::string>& inputNames() const { return m_inputNames; }
    const std::vector<std::string>& outputNames() const { return m_outputNames; }

    // What the session holds, for an owner that shows it.
    IASIO* const& driver() const { return m_driver; }
    const std::int32_t& driverIndex() const { return m_driverIndex; }
    const std::int32_t& numInputs() const { return m_numInputs; }
    const std::int32_t& numOutputs() const { return m_numOutputs; }
    const std::int32_t& sysHandleWord() const { return m_sysHandleWord; }
    const std::atomic<std::int32_t>& resetPending() const { return m_resetPending; }
    const ChannelArray& channelArray() const { return m_channels; }
    const ASIOChannelInfo& inputInfo() const { return m_inputInfo; }
    const ASIOChannelInfo& outputInfo() const { return m_outputInfo; }
    const BufferSizeLimits& limits() const { return m_limits; }
    const std::int32_t& bufferSize() const { return m_bufferSize; }
    const std::int32_t& sampleBytes() const { return m_sampleBytes; }
    const ASIOCallbacks& callbacks() const { return m_callbacks; }
    ASIOLong reportedInputLatency() const { return m_reportedInputLatency; }
    ASIOLong reportedOutputLatency() const { return m_reportedOutputLatency; }

private:
    friend void BufferSwitchCallback(ASIOLong, ASIOBool);
    friend void SampleRateDidChangeCallback(ASIOSampleRate);
    friend ASIOLong AsioMessageCallback(ASIOLong, ASIOLong, void*, double*);
    static std::atomic<MeasurementSession*> s_active;

    // The driver's thread, or this one from inside a driver call.
    void onBufferSwitch(ASIOLong doubleBufferIndex);
    void onSampleRateChange(ASIOSampleRate rate);
    void onResetRequest();
    void onDriverTrouble();
    // What the driver says of this switch: its sample position and time stamp, or the host's
    // clock when it gives none. Real-time safe.
    SwitchClock switchClock() const;
    bool calledBackFromInsideACall() const;

    struct HeldEvent {
        SessionEvent event;
        bool announced;
    };
    void deliverHeld();

    OpenResult createAndInit(int index);
    void closeDriver();
    void readLimits();
    void readRates();
    void readChannelCounts(std::int32_t limit);
    // Waits until no callback is inside the session; later ones find the measurement disarmed.
    void quiesce();
    // Notes the driver's reason for a failed call, when asked to; returns `error`.
    ASIOError failed(ASIOError error);
    StreamSnapshot snapshot() const;
    // The driver's channel numbers in place of the snapshot's positions.
    MeasurementResult withDriverChannels(MeasurementResult result) const;

    DriverCatalog& m_catalog;
    SessionEvents& m_events;
    const std::thread::id m_ownerThread = std::this_thread::get_id();

    IASIO* m_driver = nullptr;       // borrowed from the catalog, which owns its reference
    int m_openIndex = -1;            // the catalog entry m_driver came from
    std::int32_t m_driverIndex = -1; // the last successful open
    std::int32_t m_numInputs = 0;
    std::int32_t m_numOutputs = 0;
    std::int32_t m_sysHandleWord = 0;
    std::atomic<std::int32_t> m_resetPending{0};
    ChannelArray m_channels;
    ChannelSelection m_selection; // empty groups: every channel
    ChannelSelection m_prepared;  // the channels of the last stream prepared, in snapshot order
    ASIOChannelInfo m_inputInfo{};
    ASIOChannelInfo m_outputInfo{};
    bool m_channelsDescribed = false; // getChannelInfo answered for each measured channel
    BufferSizeLimits m_limits;
    std::int32_t m_bufferSize = 0;
    std::int32_t m_sampleBytes = 0;
    SampleLayout m_sampleLayout{};
    ASIOLong m_reportedInputLatency = 0;
    ASIOLong m_reportedOutputLatency = 0;
    ASIOCallbacks m_callbacks; // the driver keeps its address while buffers exist
    std::vector<ASIOSampleRate> m_rates;
    std::vector<std::string> m_inputNames;
    std::vector<std::string> m_outputNames;
    // What the owner chose, for a driver opened again after a reset.
    std::optional<ASIOSampleRate> m_chosenRate;
    std::optional<std::int32_t> m_chosenBufferSize;

    bool m_buffersCreated = false;
    bool m_started = false;  // start succeeded and no stop has been asked since
    bool m_awaiting = false; // armed, and its result not yet collected
    bool m_endEarly = true;
    std::size_t m_judgedUpTo = 0; // the recording endEarlyIfComplete last looked at
    Measurement m_measurement;
    std::atomic<std::int64_t> m_switches{0};
    std::atomic<std::int64_t> m_troubleReports{0};

    bool m_explainFailures = false;
    std::string m_driverMessage;
    int m_holdDepth = 0;
    std::vector<HeldEvent> m_held;
};
