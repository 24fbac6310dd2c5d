#pragma once
// An ASIO driver over a JACK server (Linux): a JACK client with N input and N output ports whose
// process callback runs the host's buffer switches.
//
// Buffers. One JACK period is one buffer: the only size offered is the server's period, the only
// rate its sample rate, and samples are Float32LSB, JACK's own format. JACK hands a client one
// buffer per port and cycle; the host's two halves map onto it: at cycle k of a run (k from 0 at
// each start) the JACK input buffers are copied into input half k mod 2, bufferSwitch(k mod 2)
// runs, and output half k mod 2 is copied into the JACK output buffers of that same cycle. So a
// host that counts switches times the period plus a position counts frames exactly as a JACK
// client does, and measures what jack_delay measures on the same loop.
//
// Latencies. getLatencies reports, from the ports the channels are wired to (the largest over
// the channels), input = their capture latency and output = their playback latency, the ages
// JACK gives a cycle's first sample on the way in and on the way out. Their sum is what
// jack_delay -E expects of a loop, so measured minus reported is the part no port declares (the
// cable, converters). A loop closed inside the JACK graph adds one period no port declares
// either: the cycle that carries the signal round its feedback connection.
//
// Server lifecycle. init opens the client (never starting a server); createBuffers registers the
// ports, activates the client and wires it (JACK connects ports of active clients only);
// start and stop only open and close the way into bufferSwitch; disposeBuffers deactivates and
// unregisters; the last Release closes the client. No call waits for the server longer than
// kJackServerTimeout (jack_client.h): one that is late fails, and so does every later one that
// needs the server, saying that it does not answer.
//
// Threads. JACK's process thread runs bufferSwitch between start and stop, and copies buffers;
// nothing there allocates, locks or waits. Off a run, or in a cycle whose length no longer
// matches the buffers, it plays silence. JACK's other callbacks only record what happened; the
// driver's event thread tells the host: sampleRateDidChange for a new server rate,
// asioMessage(kAsioOverload) for each xrun while buffers exist, if the host says it takes it
// (kAsioSelectorSupported, asked at the first xrun of the buffers), and
// asioMessage(kAsioResetRequest) when the period changes or the server is gone: shut down, or
// stopped (no process cycle for kJackStallTimeout while the client is active). After that nothing
// else reaches the host, and every operation that needs the server fails with the reason. stop()
// from any thread but the process thread returns once no bufferSwitch runs or will run; inside
// bufferSwitch it only closes the way. Release may come from any thread; on one of the driver's
// own it defers the end to the event thread.
//
// Results. Operations before init, or after a failed one, answer ASE_NotPresent, and a failed
// init says why (no server, the client name taken, the server not answering). createBuffers
// answers ASE_InvalidParameter for a size other than the period, an unknown or repeated
// channel or no bufferSwitch, ASE_InvalidMode while buffers exist, and ASE_NotPresent when the
// wiring plan or a connection fails; disposeBuffers refuses inside bufferSwitch (JACK cannot
// deactivate a client from its own process thread). Every refusal leaves its reason for
// getErrorMessage.

#include "asio/asio.h"
#include "drivers/jack/jack_client.h"
#include "drivers/jack/jack_cycle.h"
#include "drivers/jack/jack_settings.h"
#include "drivers/kit/driver_base.h"

#include <jack/jack.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

// {7C3E91D2-48A5-4F0B-9E26-5D81B4C3A7F0}
inline constexpr ComGuid kJackDriverClassId{
    0x7C3E91D2, 0x48A5, 0x4F0B, {0x9E, 0x26, 0x5D, 0x81, 0xB4, 0xC3, 0xA7, 0xF0}};
inline constexpr const char* kJackDriverName = "JACK";
inline constexpr ASIOLong kJackDriverVersion = 1;
// An active client that has run no process cycle for this long has a server that stopped.
inline constexpr std::chrono::milliseconds kJackStallTimeout{1000};

class JackDriver;

// A new driver holding one reference; it connects to a server only in init.
JackDriver* createJackDriver(const JackSettings& settings);

class JackDriver final : public kit::DriverBase, JackClient::Listener {
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

    // Xruns the server reported since the last start.
    std::uint64_t xrunCount() const { return m_xruns.load() - m_xrunsAtStart.load(); }

private:
    friend JackDriver* createJackDriver(const JackSettings& settings);
    explicit JackDriver(const JackSettings& settings);
    ~JackDriver() override; // only Release ends a driver

    // What JACK's callbacks record for the event thread, as bits.
    enum Event : unsigned {
        kRateChanged = 1,
        kPeriodChanged = 2,
        kServerGone = 4,
        kNoticesQueued = 8,
        kXrun = 16,
        kQuit = 32,
    };

    void lastReleased() override;

    // ASE_OK when the client is open and its server there; otherwise the refusal, recorded.
    ASIOError checkServer(const char* operation); // m_mutex held
    // A request the server did not grant: the server's state when that is why, else `why`.
    ASIOError refused(const char* operation, ASIOError result, const std::string& why);
    ASIOError registerPorts(); // m_mutex held, the client inactive
    ASIOError wire();          // m_mutex held, the client active
    void releaseBuffers();     // m_mutex held, the client inactive
    bool onProcessThread() const;
    bool onEventThread() const;
    // Held around a change of the buffers, so that the event thread never calls the host halfway
    // through one. Not taken on the event thread, which holds it while it calls the host.
    std::unique_lock<std::mutex> lockDelivery();

    // JACK's callbacks, on JACK's threads.
    void process(jack_nframes_t frames) noexcept override;
    void periodChanged(jack_nframes_t frames) noexcept override;
    void rateChanged(jack_nframes_t rate) noexcept override;
    void xrun() noexcept override;
    void disconnected(jack_port_id_t from, jack_port_id_t to) noexcept override;
    void serverShutDown(const char* reason) noexcept override;
    // The first reason the server is gone wins; the host hears of it once.
    void serverGone(const char* reason) noexcept;
    void post(unsigned events) noexcept;

    // The event thread.
    struct CycleWatch {
        bool active = false;
        std::uint64_t cycles = 0;
        std::chrono::steady_clock::time_point since;
    };
    void runEvents();
    void watchCycles(CycleWatch& watch);
    void deliver(unsigned events);
    void tellOverloads();

    const JackSettings m_settings;

    mutable std::mutex m_mutex;           // the client's setup
    std::unique_ptr<JackClient> m_client; // set by init
    // The client's handle for JACK's threads, which may run while m_client is being closed.
    jack_client_t* m_handle = nullptr;
    std::thread m_eventThread;

    JackCycle m_cycle;
    ASIOCallbacks m_callbacks{}; // with the buffers; the event thread reads it while delivering
    std::atomic<double> m_sampleRate{0};
    std::atomic<jack_nframes_t> m_newPeriod{0};
    std::atomic<std::uint64_t> m_xruns{0}; // since init
    std::atomic<std::uint64_t> m_xrunsAtStart{0};
    std::atomic<std::uint64_t> m_cycles{0}; // process callbacks, watched for a stopped server
    std::atomic<bool> m_active{false};      // JACK should run a cycle every period
    std::atomic<bool> m_wired{false};       // connection changes are now worth a notice
    std::atomic<bool> m_goneClaimed{false};
    std::atomic<bool> m_serverGone{false}; // set once m_goneReason is written
    std::array<char, 160> m_goneReason{};

    std::atomic<unsigned> m_events{0};
    std::counting_semaphore<> m_wake{0};
    std::mutex m_noticeMutex;
    std::vector<std::string> m_notices;
    std::mutex m_deliveryMutex;
    // Under m_deliveryMutex: xruns told to the host, and whether it takes kAsioOverload (-1: not
    // asked yet).
    std::uint64_t m_xrunsTold = 0;
    int m_takesOverload = -1;
    std::atomic<bool> m_deleteWhenEventsEnd{false}; // the last Release came on a driver thread
};
