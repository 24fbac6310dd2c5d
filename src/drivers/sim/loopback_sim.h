#pragma once
// The loopback simulator: an ASIO driver with no hardware behind it, behaving like an interface
// whose outputs are wired to its inputs by cables. It runs the host's buffer switches on a thread
// of its own, so every layer above it is exercised for real.
//
// Time model (the usual double buffer). At switch k the host is handed half h = k mod 2 of every
// buffer: it reads the input half recorded during period k-1 and writes the output half that is
// played during period k+1. A cable delays the signal by `loopDelay` samples, so a pulse written
// at switch 0, position 0 is first seen at switch 2 + L div B, position L mod B, and a host that
// counts switches times B plus the position measures 2B + L. getLatencies answers what a real
// driver would: one buffer plus a safety offset each way. The offsets are part of the loop delay
// (a driver never reports more than the real round trip), so measured minus reported is the part
// of L no driver reports: converters and the analog path.
//
// Threads. Every operation may be called from any thread, the switch thread included (start, stop,
// disposeBuffers and Release from inside bufferSwitch are allowed). stop() called from inside a
// callback only asks the switch thread to end after that callback returns; called from any other
// thread it returns only once no callback is running or will run.
//
// Results. createBuffers answers ASE_InvalidParameter for a request it cannot take (a size off
// the offered walk, an unknown or repeated channel, no bufferSwitch) and ASE_InvalidMode while
// buffers exist; start answers ASE_InvalidMode without buffers and ASE_OK when already running;
// stop answers ASE_OK when nothing runs; getSamplePosition answers ASE_SPNotAdvancing outside a
// run. Every refusal leaves its reason for getErrorMessage. In real time, switch k of a run comes
// k periods after start; each run starts again from switch 0, half 0, with nothing played.

#include "asio/asio.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// {5E0B7A3C-9D41-4C2F-B8E6-17A3D2F4C901}
inline constexpr ComGuid kLoopbackSimClassId{
    0x5E0B7A3C, 0x9D41, 0x4C2F, {0xB8, 0xE6, 0x17, 0xA3, 0xD2, 0xF4, 0xC9, 0x01}};
inline constexpr const char* kLoopbackSimClassIdText = "{5E0B7A3C-9D41-4C2F-B8E6-17A3D2F4C901}";
inline constexpr const char* kLoopbackSimName = "Tarvelo Loopback Simulator";
inline constexpr ASIOLong kLoopbackSimVersion = 1;

// The driver operations a host called, in order, by name ("createBuffers", "start", ...). Every
// IASIO operation is recorded except the two a host calls from inside its callback, outputReady
// (counted instead) and getSamplePosition, and except QueryInterface and AddRef; Release is
// recorded once, by the call that drops the last reference. Shared through SimSettings::callLog,
// one log can follow several simulator instances, e.g. a driver that is opened twice.
class SimCallLog {
public:
    void append(const char* operation);
    std::vector<std::string> entries() const;
    void clear();

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

// What the host last asked of createBuffers, failed calls included.
struct SimBufferRequest {
    struct Channel {
        bool isInput = false;
        ASIOLong channel = 0;
        bool operator==(const Channel&) const = default;
    };
    std::vector<Channel> channels;
    ASIOLong bufferSize = 0;
};

class SimStream;
class LoopbackSimulator;

// A new simulator holding one reference, or null when validateSimSettings refuses the settings.
LoopbackSimulator* createLoopbackSimulator(const SimSettings& settings);

class LoopbackSimulator final : public IASIO {
public:
    LoopbackSimulator(const LoopbackSimulator&) = delete;
    LoopbackSimulator& operator=(const LoopbackSimulator&) = delete;

    std::int32_t TARVELO_COM_CALL QueryInterface(const ComGuid& iid, void** object) override;
    std::uint32_t TARVELO_COM_CALL AddRef() override;
    std::uint32_t TARVELO_COM_CALL Release() override;

    ASIOBool init(void* sysHandle) override;
    void getDriverName(char* name) override;
    ASIOLong getDriverVersion() override;
    // Copies the reason of the last failed operation, at most 123 characters and a terminator.
    void getErrorMessage(char* string) override;
    ASIOError start() override;
    ASIOError stop() override;
    ASIOError getChannels(ASIOLong* numInputChannels, ASIOLong* numOutputChannels) override;
    ASIOError getLatencies(ASIOLong* inputLatency, ASIOLong* outputLatency) override;
    ASIOError getBufferSize(ASIOLong* minSize, ASIOLong* maxSize, ASIOLong* preferredSize,
                            ASIOLong* granularity) override;
    ASIOError canSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getSampleRate(ASIOSampleRate* sampleRate) override;
    ASIOError setSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getClockSources(ASIOClockSource* clocks, ASIOLong* numSources) override;
    ASIOError setClockSource(ASIOLong reference) override;
    ASIOError getSamplePosition(ASIOSamples* samplePosition, ASIOTimeStamp* timeStamp) override;
    ASIOError getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError createBuffers(ASIOBufferInfo* bufferInfos, ASIOLong numChannels, ASIOLong bufferSize,
                            ASIOCallbacks* callbacks) override;
    ASIOError disposeBuffers() override;
    ASIOError controlPanel() override;
    ASIOError future(ASIOLong selector, void* opt) override;
    ASIOError outputReady() override;

    // For tests and tools. The current rate is getSampleRate's; settings() keeps the initial one.
    const SimSettings& settings() const { return m_settings; }
    SimCallLog& callLog() const { return *m_callLog; }
    std::int64_t switchCount() const { return m_switchCount.load(); }
    std::int64_t outputReadyCount() const { return m_outputReadyCount.load(); }
    SimBufferRequest lastBufferRequest() const;

private:
    friend LoopbackSimulator* createLoopbackSimulator(const SimSettings& settings);
    explicit LoopbackSimulator(const SimSettings& settings);
    ~LoopbackSimulator(); // only Release ends a simulator

    ASIOError fail(ASIOError result, std::string reason);
    ASIOError failLocked(ASIOError result, std::string reason); // m_mutex held
    bool isAcceptedRate(ASIOSampleRate sampleRate) const;
    void recordBufferRequest(const ASIOBufferInfo* bufferInfos, ASIOLong numChannels,
                             ASIOLong bufferSize); // m_mutex held
    ASIOError checkBufferRequest(const ASIOBufferInfo* bufferInfos, ASIOLong numChannels,
                                 ASIOLong bufferSize, const ASIOCallbacks* callbacks,
                                 std::string& reason) const;

    // Thread control; m_mutex held by all of them.
    bool onSwitchThread() const;
    void requestStop();
    // Stops the run; off the switch thread, also waits until no callback is running or will run.
    void stopSwitchThread(std::unique_lock<std::mutex>& lock);
    // Waits until the switch thread has left its last callback, then joins it. The lock is
    // released while waiting. Never called on the switch thread.
    void reapSwitchThread(std::unique_lock<std::mutex>& lock);

    // The switch thread.
    void runSwitchThread(SimStream* stream);
    bool waitForSwitch(std::chrono::steady_clock::time_point deadline);
    // False when the host stopped the stream from inside one of the events.
    bool deliverDeviceEvents(std::int64_t switchIndex, const ASIOCallbacks& callbacks);
    void publishPosition(std::uint64_t samples, std::uint64_t nanoseconds);
    void finishSwitchThread();

    const SimSettings m_settings;
    const std::shared_ptr<SimCallLog> m_callLog;

    std::atomic<std::uint32_t> m_references{1};
    std::atomic<double> m_sampleRate;
    std::atomic<std::int64_t> m_switchCount{0};
    std::atomic<std::int64_t> m_outputReadyCount{0};
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_advancing{false}; // a switch of the current run has been published

    // The position of the current switch, published by the switch thread without a lock: an odd
    // sequence number marks an update in progress.
    std::atomic<std::uint32_t> m_positionSequence{0};
    std::atomic<std::uint64_t> m_positionSamples{0};
    std::atomic<std::uint64_t> m_positionNanoseconds{0};

    mutable std::mutex m_mutex;
    // Signalled when a stop is requested (ends a pacing wait) and when the switch thread ends.
    std::condition_variable m_threadChanged;
    std::unique_ptr<SimStream> m_stream;
    SimBufferRequest m_lastRequest;
    std::string m_errorText;
    bool m_running = false; // started and not stopped since
    bool m_threadActive = false;
    bool m_deleteWhenThreadEnds = false; // the last reference went on the switch thread
    std::thread m_thread;
    std::thread::id m_switchThreadId;

    // Touched by the switch thread only (runs follow one another through join).
    bool m_resetDelivered = false;
    bool m_rateChangeDelivered = false;
};
