#pragma once
// The loopback simulator's settings (loopback_sim.h describes the driver they shape): what the
// simulated interface offers, its cables and their imperfections, its faults, and their text
// form, which `tarvelo-cli --sim` and the Windows driver's registry value share.

#include "asio/asio.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The driver operations a host called, in order, by name ("createBuffers", "start", ...). Every
// IASIO operation is recorded except the two a host calls from inside its callback, outputReady
// (counted instead) and getSamplePosition, and except those the driver kit answers alike for
// every driver (QueryInterface, AddRef, the name, version and error text, the clock source,
// future); Release is recorded once, by the call that drops the last reference. Shared through
// SimSettings::callLog, one log can follow several simulator instances, e.g. a driver that is
// opened twice.
class SimCallLog {
public:
    void append(const char* operation) {
        const std::lock_guard lock(m_mutex);
        m_entries.emplace_back(operation);
    }
    std::vector<std::string> entries() const {
        const std::lock_guard lock(m_mutex);
        return m_entries;
    }
    void clear() {
        const std::lock_guard lock(m_mutex);
        m_entries.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_entries;
};

enum class SimPacing {
    RealTime,  // one switch per period (buffer size / rate), on absolute deadlines
    Freewheel, // the next switch as soon as the host returns: fast, deterministic tests
};

inline constexpr int kMaxSimChannels = 64;
inline constexpr int kMaxLoopDelay = 1 << 22;          // samples
inline constexpr ASIOLong kMaxSimBufferSize = 1 << 20; // samples, whatever the settings offer

// One cable of a routing matrix: `input` hears `output`. Absent values are the loop's
// (SimSettings::loopDelay, loopGainDb).
struct SimCable {
    int input = 0;
    int output = 0;
    std::optional<double> delay; // samples, fractions allowed
    std::optional<double> gainDb;
    bool operator==(const SimCable&) const = default;
};

// A latency state a start may fall into: `extraDelay` whole samples added to every path, drawn
// with a probability proportional to `weight`.
struct SimOpenState {
    std::int64_t extraDelay = 0;
    double weight = 1;
    bool operator==(const SimOpenState&) const = default;
};

enum class SimDropoutKind {
    Lost,     // periods pass without a switch: a late host, a driver that missed its interrupts
    Repeated, // a period served again: an overloaded driver
};

// A path from an output connector to an input, as SimSettings::paths() resolves it.
struct SimPath {
    int input = 0;
    int output = 0;
    double delay = 0;    // samples at the start of a run, before open states, jumps and drift
    double gain = 0;     // linear, polarity included
    bool analog = false; // a cable: through the converter filter (when on) and the AC coupling
};

struct SimSettings {
    int inputs = 2;
    int outputs = 2;
    ASIOSampleType sampleType = ASIOSTInt32LSB; // any type layoutOf() supports
    std::vector<ASIOSampleRate> acceptedRates{22050, 32000, 44100, 48000, 96000, 192000};
    ASIOSampleRate sampleRate = 48000; // need not be one of acceptedRates

    // Reported as given, odd values included, so hosts can be tried against them. createBuffers
    // accepts the sizes of the walk min, then doubled (granularity -1) or stepped by a positive
    // granularity, up to max; any other granularity allows the minimum only.
    ASIOLong minBufferSize = 32;
    ASIOLong maxBufferSize = 2048;
    ASIOLong preferredBufferSize = 256;
    ASIOLong granularity = -1;
    // Samples added to the buffer size by getLatencies, each way. They are taken out of the
    // shortest cable's delay, input first, and never exceed it.
    ASIOLong inputSafetyOffset = 8;
    ASIOLong outputSafetyOffset = 16;

    // Samples from an output connector to the input it is wired to, fractions allowed. It is the
    // true alignment delay: the converter filter's group delay is part of it, not added to it.
    double loopDelay = 32;
    double loopGainDb = 0;
    bool invertPolarity = false;
    // A linear-phase low-pass at 0.45 times the rate on every cable, as converters have.
    bool converterFilter = false;
    // A first-order high-pass at this cut-off (Hz) on what the cables bring to each input, as
    // an interface's coupling capacitors make: a long pulse sags.
    std::optional<double> acCouplingHz;
    // What real inputs add to whatever they hear: a DC offset, mains hum (a sine at humHz, 0 for
    // none), white noise on every input and, on inputs with no cable, the loud noise of a
    // floating input. Levels are peaks; the noises restart from noiseSeed at every start. The
    // sum saturates at full scale, as a converter does.
    std::optional<double> dcDbfs;
    bool negativeDc = false;
    int humHz = 0;
    double humDbfs = -60;
    std::optional<double> noiseDbfs;
    std::optional<double> floatingDbfs;
    std::uint64_t noiseSeed = 1;
    // A second path from output k to input k, cable or not, as an interface's internal mixer or
    // loopback channel makes: digital, so neither through the converter filter nor inverted.
    std::optional<double> ghostGainDb;
    double ghostDelay = 0; // samples, fractions allowed
    // The cables. Absent: output k is wired to input k for every k below both counts; inputs
    // with no cable in the list hear none.
    std::optional<std::vector<SimCable>> routing;
    SimPacing pacing = SimPacing::RealTime;

    // Latencies that move (loopback_sim.h tells how). Each moves every path, the ghost's too.
    std::vector<SimOpenState> openStates; // empty: always the same
    std::optional<double> jumpAtSeconds;  // of stream time after each start
    std::int64_t jumpBy = 0;              // whole samples, added from then on
    double driftPpm = 0;                  // the input clock against the output's

    // Fault injection.
    ASIOBool initResult = ASIOTrue;
    ASIOError createBuffersFailure = ASE_OK; // not ASE_OK: createBuffers returns it, makes nothing
    ASIOError startFailure = ASE_OK;
    ASIOError stopFailure = ASE_OK; // not ASE_OK: stop returns it and the stream keeps running
    // Device events, delivered once per simulator instance on the switch thread just before the
    // bufferSwitch of that switch number (counted from 0 at each start); -1 never. The rate change
    // comes first when both fall on the same switch; it also becomes the current rate.
    std::int64_t resetRequestAtSwitch = -1;
    std::int64_t rateChangeAtSwitch = -1;
    // The start of each instance (from 1) whose run the events come in, so that they can fall
    // between a host's measurements rather than in its first.
    std::int64_t deviceEventsStart = 1;
    ASIOSampleRate rateChangeTo = 44100;
    // A dropout in every run, at a switch number or a time after the start (at the rate of the
    // start); neither: none.
    std::int64_t dropoutAtSwitch = -1;
    std::optional<double> dropoutAtSeconds;
    std::int64_t dropoutPeriods = 1;
    SimDropoutKind dropoutKind = SimDropoutKind::Lost;

    // Not part of the text form:
    std::function<void()> controlPanelHook; // run by controlPanel on the calling thread
    std::shared_ptr<SimCallLog> callLog;    // absent: each simulator keeps its own
    // Counts the starts of every simulator that shares it; the open state of a start is drawn
    // from noiseSeed and its number. Absent: one count for the whole process, as a device keeps
    // its state however often a host opens it.
    std::shared_ptr<std::atomic<std::uint64_t>> startCounter;

    // Every path: the cables in the order given, then the ghost paths.
    std::vector<SimPath> paths() const;
    // The group delay of the filter a path needs for a fractional delay, drift or the converter
    // model; 0 when it is a plain shift. It is part of the path's delay, which may not be less.
    double filterDelayOf(const SimPath& path) const;
    // How far open states, the jump and drift move every path's delay during a run, down and up
    // (samples).
    struct Movement {
        double least = 0;
        double most = 0;
    };
    Movement delayMovement() const;
    // How far drift moves the delays before the FIFO between the two clocks slips back.
    double driftRange() const;

    // The safety offsets getLatencies adds, and the rest of the loop delay that it does not report.
    struct Offsets {
        ASIOLong input = 0;
        ASIOLong output = 0;
    };
    Offsets reportedOffsets() const;
    double unreportedDelay() const;
    // Where an output sample's energy is centred at the input, in samples after it was played:
    // a host that counts switches measures 2B + alignmentDelay() on the default cables.
    double alignmentDelay() const { return loopDelay; }
};

// Filters have 2 * kCableFilterHalfLength + 1 taps.
inline constexpr int kCableFilterHalfLength = 24;
// How far a drifting delay moves before the clock-domain FIFO slips it back (samples).
inline constexpr double kDriftSlip = 1024;

// Whether the settings describe a simulator that can run; `error` names the first bad field.
bool validateSimSettings(const SimSettings& settings, std::string* error);

// Reads "key=value" items separated by ',' or ';' into `into`, over the values it already holds.
// On failure `into` is left unchanged and `error` names the bad key or value and what is valid.
bool parseSimSettings(std::string_view text, SimSettings& into, std::string* error);
// Every key of the text form, in a form parseSimSettings reads back to the same settings.
std::string formatSimSettings(const SimSettings& settings);
// One paragraph describing the keys, for a --help text.
const char* simSettingsHelp();
