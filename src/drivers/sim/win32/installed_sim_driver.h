#pragma once
// The object the installed driver's class factory hands out. A host creates it first and
// initialises it later, and the simulator's settings are read at init, from the registry value
// that scripts a personality (sim_registry.h); so this object makes the simulator at init and
// passes every other operation on to it. Before a successful init those operations answer
// ASE_NotPresent; init fails when the settings text is bad, and getErrorMessage says why.

#include "asio/asio.h"
#include "drivers/kit/driver_base.h"
#include "drivers/sim/loopback_sim.h"
#include "drivers/sim/win32/module_lock.h"

#include <atomic>
#include <mutex>

class InstalledSimDriver final : public kit::DriverBase {
public:
    // A new object holding one reference, or null when there is no memory for it.
    static InstalledSimDriver* create();

    // Reads the settings and makes the simulator, the first time it succeeds; then answers
    // what the simulator's init answers.
    ASIOBool init(void* sysHandle) override;
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
    // Shows the settings in force in a message box when the registry asks for it (ShowPanel).
    ASIOError controlPanel() override;
    ASIOError future(ASIOLong selector, void* opt) override;
    ASIOError outputReady() override;

private:
    InstalledSimDriver();
    ~InstalledSimDriver() override;

    // The simulator made from the registry's settings, or null with the reason kept.
    LoopbackSimulator* makeSimulator();
    // Passes a call on to the simulator, or refuses it before init.
    template <auto Operation, typename... Arguments>
    ASIOError forward(const char* name, Arguments... arguments);
    ASIOError refuseUninitialised(const char* name);

    ModuleReference m_moduleReference;
    // Set once, by the first successful init; read lock-free on the switch thread.
    std::atomic<LoopbackSimulator*> m_simulator{nullptr};
    std::mutex m_mutex; // guards making the simulator
};
