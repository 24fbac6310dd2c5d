#pragma once
// A tiny host for the simulator tests. At every switch it writes a programmed signal to its output
// halves and keeps a copy of every input half it is handed; after a chosen number of switches it
// stops the stream from inside its callback. Driver callbacks carry no context, so one host at a
// time is the active one.

#include "drivers/sim/loopback_sim.h"
#include "engine/sample_format.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// A one-shot flag another thread can wait for.
class Signal {
public:
    void set() {
        const std::lock_guard lock(m_mutex);
        m_set = true;
        m_changed.notify_all();
    }
    bool waitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [this] { return m_set; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_set = false;
};

inline constexpr std::chrono::seconds kHostTimeout{20};

struct HostChannels {
    std::vector<int> inputs;
    std::vector<int> outputs;
    // Every channel the simulator has.
    static HostChannels all(const SimSettings& settings);
};

class SimTestHost {
public:
    // Runs `switches` switches (0: until someone else stops the stream).
    SimTestHost(LoopbackSimulator& driver, ASIOLong bufferSize, int switches,
                HostChannels channels);
    ~SimTestHost();
    SimTestHost(const SimTestHost&) = delete;
    SimTestHost& operator=(const SimTestHost&) = delete;

    // Sample n of output slot o is written at switch n div B, position n mod B. Unset: silence.
    void setOutputSignal(std::size_t outputSlot, std::vector<double> samples);
    // false: outputs are written at switch 0 only and their halves left alone afterwards.
    bool rewriteEverySwitch = true;
    // Called inside the callback after the host's own work, with the switch number.
    std::function<void(int)> onSwitch;

    ASIOError createBuffers();
    // createBuffers (if not done), start, wait for the last switch, disposeBuffers. False when
    // any step fails or the switches do not arrive in time.
    bool run();
    bool waitUntilDone() { return m_done.waitFor(kHostTimeout); }
    // createBuffers, start, and wait until switch `switchNumber` has been handled (once per host).
    bool startAndWaitForSwitch(int switchNumber);
    // Whether no further switch arrives within a while.
    bool staysQuiet() const;

    SampleLayout layout() const { return m_layout; }
    int switchesSeen() const { return m_switchesSeen.load(); }
    const std::vector<ASIOLong>& halvesSeen() const { return m_halves; }
    std::thread::id switchThread() const { return m_switchThread; }
    // Input slot i as handed over, switch after switch; read after the run.
    const std::vector<std::byte>& inputBytes(std::size_t slot) const { return m_inputs[slot]; }
    double inputSample(std::size_t slot, std::int64_t n) const;
    // Index of the first input sample strictly above `threshold` (the pulse detector's count:
    // switch number times B plus the position), or -1.
    std::int64_t firstAbove(std::size_t slot, double threshold) const;
    // Output slot o as written, switch after switch (only switches it was written at).
    const std::vector<std::byte>& outputBytes(std::size_t slot) const { return m_outputs[slot]; }

    // What the driver's other callbacks brought, with the number of switches seen before each.
    std::atomic<int> resetRequests{0};
    std::atomic<int> switchesBeforeReset{-1};
    std::atomic<int> rateChanges{0};
    std::atomic<double> changedRate{0};
    std::atomic<int> switchesBeforeRateChange{-1};
    std::thread::id eventThread; // thread of the last message or rate change

private:
    static void bufferSwitch(ASIOLong half, ASIOBool directProcess);
    static void sampleRateDidChange(ASIOSampleRate rate);
    static ASIOLong asioMessage(ASIOLong selector, ASIOLong value, void* message, double* opt);
    static ASIOTime* bufferSwitchTimeInfo(ASIOTime* params, ASIOLong half, ASIOBool direct);
    void handleSwitch(ASIOLong half);

    static std::atomic<SimTestHost*> s_active;

    LoopbackSimulator& m_driver;
    const ASIOLong m_bufferSize;
    const int m_switches;
    const SampleLayout m_layout;
    const std::size_t m_halfBytes;
    std::vector<ASIOBufferInfo> m_infos;
    std::size_t m_inputCount;
    ASIOCallbacks m_callbacks;
    bool m_buffersMade = false;
    std::vector<std::vector<double>> m_signals;
    std::vector<std::vector<std::byte>> m_inputs;
    std::vector<std::vector<std::byte>> m_outputs;
    std::vector<ASIOLong> m_halves;
    std::atomic<int> m_switchesSeen{0};
    std::thread::id m_switchThread;
    Signal m_done;
    std::atomic<int> m_awaitedSwitch{-1};
    Signal m_awaitedSwitchSeen;
};

struct ReleaseDriver {
    void operator()(LoopbackSimulator* driver) const { driver->Release(); }
};
using SimPtr = std::unique_ptr<LoopbackSimulator, ReleaseDriver>;

// A simulator from the text form, freewheeling unless the text says otherwise; null (and a test
// failure) when the text is refused.
SimPtr makeSim(std::string_view text, SimSettings base = {});
