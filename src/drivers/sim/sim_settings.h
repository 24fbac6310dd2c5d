#pragma once
// The loopback simulator's settings (loopback_sim.h describes the driver they shape): what the
// simulated interface offers, its cables and their imperfections, its faults, and their text
// form, which `tarvelo-cli --sim` and the Windows driver's registry value share.

#include "asio/asio.h"

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
// future); Release is recorded once, by the call that drops the last reference. Shared through SimSettings::callLog,
// one log can follow several simulator instances, e.g. a driver that is opened twice.
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

inline constexpr int kNoCable = -1;
inline constexpr int kMaxSimChannels = 64;
inline constexpr int kMaxLoopDelay = 1 << 22;          // samples
inline constexpr ASIOLong kMaxSimBufferSize = 1 << 20; // samples, whatever the settings offer

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
    // Samples added to the buffer size by getLatencies, each way. They are taken out of the loop
    // delay, input first, and never exceed it.
    ASIOLong inputSafetyOffset = 8;
    ASIOLong outputSafetyOffset = 16;

    // Samples from an output connector to the input it is wired to, fractions allowed. It is the
    // true alignment delay: the converter filter's group delay is part of it, not added to it.
    double loopDelay = 32;
    double loopGainDb = 0;
    bool invertPolarity = false;
    // A linear-phase low-pass at 0.45 times the rate on every cable, as converters have.
    bool converterFilter = false;
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
    // loopback channel makes: digital, so neither filtered nor inverted.
    std::optional<double> ghostGainDb;
    int ghostDelay = 0; // samples
    // routing[i] is the output that input i hears, or kNoCable; inputs past its end hear nothing.
    // Absent: output k is wired to input k for every k below both counts.
    std::optional<std::vector<int>> routing;
    SimPacing pacing = SimPacing::RealTime;

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
    ASIOSampleRate rateChangeTo = 44100;

    // Not part of the text form:
    std::function<void()> controlPanelHook; // run by controlPanel on the calling thread
    std::shared_ptr<SimCallLog> callLog;    // absent: each simulator keeps its own

    // The output that `input` hears, or kNoCable.
    int sourceOf(int input) const;

    // The safety offsets getLatencies adds, and the rest of the loop delay that it does not report.
    struct Offsets {
        ASIOLong input = 0;
        ASIOLong output = 0;
    };
    Offsets reportedOffsets() const;
    double unreportedDelay() const;
    // Where an output sample's energy is centred at the input, in samples after it was played:
    // a host that counts switches measures 2B + alignmentDelay().
    double alignmentDelay() const { return loopDelay; }
    // The group delay of the filter a cable needs for a fractional delay or the converter model;
    // 0 when the cable is a plain shift. It is part of loopDelay, so loopDelay may not be less.
    double cableFilterDelay() const;
};

// The cable filter has 2 * kCableFilterHalfLength + 1 taps.
inline constexpr int kCableFilterHalfLength = 24;

// Whether the settings describe a simulator that can run; `error` names the first bad field.
bool validateSimSettings(const SimSettings& settings, std::string* error);

// Reads "key=value" items separated by ',' or ';' into `into`, over the values it already holds.
// On failure `into` is left unchanged and `error` names the bad key or value and what is valid.
bool parseSimSettings(std::string_view text, SimSettings& into, std::string* error);
// Every key of the text form, in a form parseSimSettings reads back to the same settings.
std::string formatSimSettings(const SimSettings& settings);
// One paragraph describing the keys, for a --help text.
const char* simSettingsHelp();
