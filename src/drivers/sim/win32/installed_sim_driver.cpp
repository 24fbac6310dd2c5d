#include "drivers/sim/win32/installed_sim_driver.h"

#include "drivers/sim/win32/sim_registry.h"

#include <windows.h>

#include <memory>
#include <new>

namespace {

// The simulator keeps its call log until it is destroyed, which may come after the last
// Release, on its own thread once the host's callback has returned; this log keeps the module
// loaded until then.
struct ModuleCallLog final : SimCallLog {
    ModuleReference moduleReference;
};

std::string panelText(const SimSettings& settings) {
    std::string items;
    for (const char c : formatSimSettings(settings)) {
        items += c == ',' ? std::string(", ") : std::string(1, c); // lets the box wrap lines
    }
    return "Settings in force:\n" + items +
           "\n\nTo change them, set the text value \"Settings\" of HKEY_LOCAL_MACHINE\\" +
           simDriverKeyPath() +
           " to key=value items, e.g. inputs=8,delay=100; the driver reads it at init.";
}

} // namespace

InstalledSimDriver* InstalledSimDriver::create() {
    return new (std::nothrow) InstalledSimDriver;
}

InstalledSimDriver::InstalledSimDriver()
    : DriverBase({kLoopbackSimClassId, kLoopbackSimName, kLoopbackSimVersion, "Internal"}) {}

InstalledSimDriver::~InstalledSimDriver() {
    if (LoopbackSimulator* simulator = m_simulator.load()) {
        simulator->Release();
    }
}

LoopbackSimulator* InstalledSimDriver::makeSimulator() {
    const std::lock_guard lock(m_mutex);
    if (LoopbackSimulator* made = m_simulator.load()) {
        return made; // another thread's init came first
    }
    std::string text;
    std::string error;
    SimSettings settings;
    if (!readSettingsText(text, error) || !parseSimSettings(text, settings, &error)) {
        fail(ASE_NotPresent, "Settings: " + error);
        return nullptr;
    }
    settings.callLog = std::make_shared<ModuleCallLog>();
    settings.controlPanelHook = [panel = panelText(settings)] {
        // Off unless asked for: a modal box would stop any unattended host.
        if (isPanelEnabled()) {
            MessageBoxA(nullptr, panel.c_str(), kLoopbackSimName, MB_OK | MB_ICONINFORMATION);
        }
    };
    LoopbackSimulator* simulator = createLoopbackSimulator(settings);
    if (simulator == nullptr) {
        fail(ASE_NotPresent, "Settings: the simulator refused them");
        return nullptr;
    }
    if (isCrashOnUnloadRequested()) {
        crashWhenUnloaded();
    }
    m_simulator.store(simulator);
    return simulator;
}

ASIOBool InstalledSimDriver::init(void* sysHandle) {
    LoopbackSimulator* simulator = m_simulator.load();
    if (simulator == nullptr) {
        simulator = makeSimulator();
    }
    return simulator != nullptr ? simulator->init(sysHandle) : ASIOFalse;
}

template <auto Operation, typename... Arguments>
ASIOError InstalledSimDriver::forward(const char* name, Arguments... arguments) {
    LoopbackSimulator* simulator = m_simulator.load();
    return simulator != nullptr ? (simulator->*Operation)(arguments...) : refuseUninitialised(name);
}

ASIOError InstalledSimDriver::refuseUninitialised(const char* name) {
    return fail(ASE_NotPresent, std::string(name) + ": the driver is not initialised");
}

void InstalledSimDriver::getErrorMessage(char* string) {
    if (LoopbackSimulator* simulator = m_simulator.load()) {
        simulator->getErrorMessage(string);
    } else {
        DriverBase::getErrorMessage(string);
    }
}

ASIOError InstalledSimDriver::start() {
    return forward<&LoopbackSimulator::start>("start");
}

ASIOError InstalledSimDriver::stop() {
    return forward<&LoopbackSimulator::stop>("stop");
}

ASIOError InstalledSimDriver::getChannels(ASIOLong* numInputChannels, ASIOLong* numOutputChannels) {
    return forward<&LoopbackSimulator::getChannels>("getChannels", numInputChannels,
                                                    numOutputChannels);
}

ASIOError InstalledSimDriver::getLatencies(ASIOLong* inputLatency, ASIOLong* outputLatency) {
    return forward<&LoopbackSimulator::getLatencies>("getLatencies", inputLatency, outputLatency);
}

ASIOError InstalledSimDriver::getBufferSize(ASIOLong* minSize, ASIOLong* maxSize,
                                            ASIOLong* preferredSize, ASIOLong* granularity) {
    return forward<&LoopbackSimulator::getBufferSize>("getBufferSize", minSize, maxSize,
                                                      preferredSize, granularity);
}

ASIOError InstalledSimDriver::canSampleRate(ASIOSampleRate sampleRate) {
    return forward<&LoopbackSimulator::canSampleRate>("canSampleRate", sampleRate);
}

ASIOError InstalledSimDriver::getSampleRate(ASIOSampleRate* sampleRate) {
    return forward<&LoopbackSimulator::getSampleRate>("getSampleRate", sampleRate);
}

ASIOError InstalledSimDriver::setSampleRate(ASIOSampleRate sampleRate) {
    return forward<&LoopbackSimulator::setSampleRate>("setSampleRate", sampleRate);
}

ASIOError InstalledSimDriver::getClockSources(ASIOClockSource* clocks, ASIOLong* numSources) {
    return forward<&LoopbackSimulator::getClockSources>("getClockSources", clocks, numSources);
}

ASIOError InstalledSimDriver::setClockSource(ASIOLong reference) {
    return forward<&LoopbackSimulator::setClockSource>("setClockSource", reference);
}

ASIOError InstalledSimDriver::getSamplePosition(ASIOSamples* samplePosition,
                                                ASIOTimeStamp* timeStamp) {
    return forward<&LoopbackSimulator::getSamplePosition>("getSamplePosition", samplePosition,
                                                          timeStamp);
}

ASIOError InstalledSimDriver::getChannelInfo(ASIOChannelInfo* info) {
    return forward<&LoopbackSimulator::getChannelInfo>("getChannelInfo", info);
}

ASIOError InstalledSimDriver::createBuffers(ASIOBufferInfo* bufferInfos, ASIOLong numChannels,
                                            ASIOLong bufferSize, ASIOCallbacks* callbacks) {
    return forward<&LoopbackSimulator::createBuffers>("createBuffers", bufferInfos, numChannels,
                                                      bufferSize, callbacks);
}

ASIOError InstalledSimDriver::disposeBuffers() {
    return forward<&LoopbackSimulator::disposeBuffers>("disposeBuffers");
}

ASIOError InstalledSimDriver::controlPanel() {
    return forward<&LoopbackSimulator::controlPanel>("controlPanel");
}

ASIOError InstalledSimDriver::future(ASIOLong selector, void* opt) {
    return forward<&LoopbackSimulator::future>("future", selector, opt);
}

ASIOError InstalledSimDriver::outputReady() {
    return forward<&LoopbackSimulator::outputReady>("outputReady");
}
