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
// Paths. Each cable of the routing (SimSettings::paths) has its own delay and gain; an input hears
// the sum of its cables through the AC coupling's high-pass, plus its ghost path, DC, hum and
// noise, saturated at full scale. A fractional delay, drift or the converter model put a 49-tap
// Kaiser-windowed sinc on the path, centred on the delay, so the delay stays the alignment delay.
//
// Latencies that move. Open states add a whole number of samples to every path, drawn at each
// start by weight from noiseSeed and the start's number (SimSettings::startCounter). A jump adds
// jump_by samples from jump_at seconds after the start. Drift makes the delay grow by
// drift_ppm * 1e-6 samples per sample (shrink, below 0), evaluated at every input sample through
// the same filter, its taps interpolated between designs 1/1024 of a sample apart: what an input
// hears stays within 2e-6 of full scale (-114 dB) of the exact design's. After kDriftSlip samples
// of drift (or, shrinking, once the shortest path would fall under its filter's 24 samples) the
// FIFO between the two clocks slips the delay back where it started, at once.
//
// Dropouts. The hardware runs period after period whatever the host does; switch k serves
// hardware period p(k), which is k until a dropout: its half is p(k) mod 2, getSamplePosition
// reports p(k) * B, the inputs hold what was recorded during period p(k) - 1 and the outputs
// written play during period p(k) + 1; in real time the switch comes when its period begins.
// Lost periods (a host that returned late, a driver that missed its interrupts): after switch
// s - 1, N periods pass with no switch, so p(k) = k + N from switch s on; what they recorded never
// reaches the host, and the hardware plays its halves as they stand, period q half (q - 1) mod 2,
// so the last two halves written play again. Repeated periods (an overloaded driver serving a
// period again): switches s + 1 .. s + N serve period s once more, so p(k) = k - N after them; the
// inputs keep the same recording, the position stands still, and what the host wrote last into
// the half is what plays. A host that counts switches measures N * B too little across lost
// periods and N * B too much across repeated ones; the positions tell, and so does the message
// the first switch after the dropout brings when the host says it supports it (asioMessage with
// kAsioSelectorSupported): kAsioOverload for lost periods, kAsioResyncRequest for repeated ones.
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
#include "drivers/kit/driver_base.h"
#include "drivers/sim/sim_settings.h"

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

class LoopbackSimulator final : public kit::DriverBase {
public:
    ASIOBool init(void* sysHandle) override;
    ASIOError start() override;
    ASIOError stop() override;
    ASIOError getChannels(ASIOLong* numInputChannels, ASIOLong* numOutputChannels) override;
    ASIOError getLatencies(ASIOLong* inputLatency, ASIOLong* outputLatency) override;
    ASIOError getBufferSize(ASIOLong* minSize, ASIOLong* maxSize, ASIOLong* preferredSize,
                            ASIOLong* granularity) override;
    ASIOError canSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getSampleRate(ASIOSampleRate* sampleRate) override;
    ASIOError setSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getSamplePosition(ASIOSamples* samplePosition, ASIOTimeStamp* timeStamp) override;
    ASIOError getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError createBuffers(ASIOBufferInfo* bufferInfos, ASIOLong numChannels, ASIOLong bufferSize,
                            ASIOCallbacks* callbacks) override;
    ASIOError disposeBuffers() override;
    ASIOError controlPanel() override;
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
    ~LoopbackSimulator() override; // only Release ends a simulator

    void lastReleased() override;
    bool isAcceptedRate(ASIOSampleRate sampleRate) const;
    void recordBufferRequest(const ASIOBufferInfo* bufferInfos, ASIOLong numChannels,
                             ASIOLong bufferSize); // m_mutex held

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
    // Sends the message when the host says it supports it; false as deliverDeviceEvents.
    bool announce(ASIOLong selector, const ASIOCallbacks& callbacks);
    void publishPosition(std::uint64_t samples, std::uint64_t nanoseconds);
    void finishSwitchThread();

    const SimSettings m_settings;
    const std::shared_ptr<SimCallLog> m_callLog;

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
    bool m_running = false; // started and not stopped since
    bool m_threadActive = false;
    bool m_deleteWhenThreadEnds = false; // the last reference went on the switch thread
    std::thread m_thread;
    std::thread::id m_switchThreadId;

    // Starts of this instance: counted by start() before it makes the run's switch thread,
    // which reads it.
    std::int64_t m_starts = 0;
    // Touched by the switch thread only (runs follow one another through join).
    bool m_resetDelivered = false;
    bool m_rateChangeDelivered = false;
};
