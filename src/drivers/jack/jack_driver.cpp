#include "drivers/jack/jack_driver.h"

#include "drivers/com_driver.h"
#include "drivers/jack/jack_setup.h"

#include <jack/types.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <new>
#include <pthread.h>
#include <system_error>

static_assert(std::endian::native == std::endian::little,
              "JACK's native floats are handed to the host as Float32LSB");

namespace {

JackDriver& driverOf(void* context) {
    return *static_cast<JackDriver*>(context);
}

ASIOSamples splitCount(std::uint64_t count) {
    return {static_cast<std::uint32_t>(count >> 32), static_cast<std::uint32_t>(count)};
}

std::string describeRate(double rate) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f Hz", rate);
    return text;
}

} // namespace

JackDriver* createJackDriver(const JackSettings& settings) {
    const auto fits = [](int channels) { return channels >= 1 && channels <= kMaxJackChannels; };
    if (!fits(settings.inputs) || !fits(settings.outputs) || settings.clientName.empty()) {
        return nullptr;
    }
    return new JackDriver(settings);
}

JackDriver::JackDriver(const JackSettings& settings)
    : m_settings(settings) {}

JackDriver::~JackDriver() {
    if (m_eventThread.joinable()) {
        post(kQuit);
        m_eventThread.join();
    }
    if (m_client != nullptr) {
        // Deactivates first: the process thread has left the buffers before they go.
        jack_client_close(m_client);
    }
}

std::int32_t TARVELO_COM_CALL JackDriver::QueryInterface(const ComGuid& iid, void** object) {
    return queryDriverInterface(this, kJackDriverClassId, iid, object);
}

std::uint32_t TARVELO_COM_CALL JackDriver::AddRef() {
    return m_references.fetch_add(1) + 1;
}

std::uint32_t TARVELO_COM_CALL JackDriver::Release() {
    const std::uint32_t left = m_references.fetch_sub(1) - 1;
    if (left != 0) {
        return left;
    }
    if (onProcessThread() || onEventThread()) {
        // Neither thread can close the client or join itself: the event thread ends the driver
        // once it is out of the host's callback.
        m_deleteWhenEventsEnd = true;
        post(kQuit);
        return 0;
    }
    delete this;
    return 0;
}

ASIOBool JackDriver::init(void* /*sysHandle*/) {
    const std::lock_guard lock(m_mutex);
    if (m_client != nullptr) {
        return ASIOTrue;
    }
    silenceLibjack();
    jack_status_t status{};
    m_client = jack_client_open(m_settings.clientName.c_str(),
                                static_cast<jack_options_t>(JackNoStartServer | JackUseExactName),
                                &status);
    if (m_client == nullptr) {
        failLocked(ASE_NotPresent, "init: " + describeOpenFailure(status));
        return ASIOFalse;
    }
    m_sampleRate = jack_get_sample_rate(m_client);
    if (hookCallbacks()) {
        try {
            m_eventThread = std::thread(&JackDriver::runEvents, this);
            return ASIOTrue;
        } catch (const std::system_error&) {
        }
    }
    jack_client_close(m_client);
    m_client = nullptr;
    failLocked(ASE_HWMalfunction, "init: the JACK client could not be set up");
    return ASIOFalse;
}

bool JackDriver::hookCallbacks() {
    const JackProcessCallback processHook = [](jack_nframes_t frames, void* self) {
        driverOf(self).process(frames);
        return 0;
    };
    const JackBufferSizeCallback periodHook = [](jack_nframes_t frames, void* self) {
        driverOf(self).onPeriod(frames);
        return 0;
    };
    const JackSampleRateCallback rateHook = [](jack_nframes_t rate, void* self) {
        driverOf(self).onSampleRate(rate);
        return 0;
    };
    const JackXRunCallback xrunHook = [](void* self) {
        driverOf(self).m_xruns.fetch_add(1);
        return 0;
    };
    const JackPortConnectCallback connectHook = [](jack_port_id_t a, jack_port_id_t b,
                                                   int connected, void* self) {
        driverOf(self).onPortConnect(a, b, connected);
    };
    const JackInfoShutdownCallback shutdownHook =
        [](jack_status_t, const char* reason, void* self) { driverOf(self).onShutdown(reason); };
    jack_on_info_shutdown(m_client, shutdownHook, this);
    return jack_set_process_callback(m_client, processHook, this) == 0 &&
           jack_set_buffer_size_callback(m_client, periodHook, this) == 0 &&
           jack_set_sample_rate_callback(m_client, rateHook, this) == 0 &&
           jack_set_xrun_callback(m_client, xrunHook, this) == 0 &&
           jack_set_port_connect_callback(m_client, connectHook, this) == 0;
}

void JackDriver::getDriverName(char* name) {
    if (name != nullptr) {
        copyText(name, kDriverNameBytes, kJackDriverName);
    }
}

ASIOLong JackDriver::getDriverVersion() {
    return kJackDriverVersion;
}

void JackDriver::getErrorMessage(char* string) {
    if (string != nullptr) {
        const std::lock_guard lock(m_mutex);
        copyText(string, kErrorMessageBytes, m_errorText);
    }
}

ASIOError JackDriver::start() {
    const std::lock_guard lock(m_mutex);
    if (const ASIOError refusal = checkServer("start"); refusal != ASE_OK) {
        return refusal;
    }
    if (m_cycle.frames() == 0) {
        return failLocked(ASE_InvalidMode, "start: no buffers; call createBuffers first");
    }
    if (m_cycle.isRunning()) {
        return ASE_OK;
    }
    if (onProcessThread()) {
        return failLocked(ASE_InvalidMode,
                          "start: not inside bufferSwitch; start after it returns");
    }
    const jack_nframes_t period = jack_get_buffer_size(m_client);
    if (period != m_cycle.frames()) {
        return failLocked(ASE_InvalidMode, "start: the JACK period is now " +
                                               std::to_string(period) +
                                               " samples; create the buffers again");
    }
    m_xruns = 0;
    m_cycle.start();
    return ASE_OK;
}

ASIOError JackDriver::stop() {
    m_cycle.stop(onProcessThread());
    return ASE_OK;
}

ASIOError JackDriver::getChannels(ASIOLong* numInputChannels, ASIOLong* numOutputChannels) {
    if (numInputChannels == nullptr || numOutputChannels == nullptr) {
        return fail(ASE_InvalidParameter, "getChannels: null pointer");
    }
    *numInputChannels = m_settings.inputs;
    *numOutputChannels = m_settings.outputs;
    return ASE_OK;
}

ASIOError JackDriver::getLatencies(ASIOLong* inputLatency, ASIOLong* outputLatency) {
    if (inputLatency == nullptr || outputLatency == nullptr) {
        return fail(ASE_InvalidParameter, "getLatencies: null pointer");
    }
    const std::lock_guard lock(m_mutex);
    if (const ASIOError refusal = checkServer("getLatencies"); refusal != ASE_OK) {
        return refusal;
    }
    const JackSetupCheck plan = planJackWiring(m_client, m_settings);
    if (plan.problem != JackSetupProblem::None) {
        return failLocked(ASE_NotPresent, "getLatencies: " + plan.message);
    }
    const auto largest = [this](const std::vector<std::string>& peers,
                                jack_latency_callback_mode_t mode) {
        jack_nframes_t latency = 0;
        for (const std::string& peer : peers) {
            if (jack_port_t* port =
                    peer.empty() ? nullptr : jack_port_by_name(m_client, peer.c_str())) {
                jack_latency_range_t range{};
                jack_port_get_latency_range(port, mode, &range);
                latency = std::max(latency, range.max);
            }
        }
        return static_cast<ASIOLong>(latency);
    };
    *inputLatency = largest(plan.wiring.inputSources, JackCaptureLatency);
    *outputLatency = largest(plan.wiring.outputTargets, JackPlaybackLatency);
    return ASE_OK;
}

ASIOError JackDriver::getBufferSize(ASIOLong* minSize, ASIOLong* maxSize, ASIOLong* preferredSize,
                                    ASIOLong* granularity) {
    if (minSize == nullptr || maxSize == nullptr || preferredSize == nullptr ||
        granularity == nullptr) {
        return fail(ASE_InvalidParameter, "getBufferSize: null pointer");
    }
    const std::lock_guard lock(m_mutex);
    if (const ASIOError refusal = checkServer("getBufferSize"); refusal != ASE_OK) {
        return refusal;
    }
    const auto period = static_cast<ASIOLong>(jack_get_buffer_size(m_client));
    *minSize = period;
    *maxSize = period;
    *preferredSize = period;
    *granularity = 0;
    return ASE_OK;
}

ASIOError JackDriver::canSampleRate(ASIOSampleRate sampleRate) {
    const std::lock_guard lock(m_mutex);
    if (const ASIOError refusal = checkServer("canSampleRate"); refusal != ASE_OK) {
        return refusal;
    }
    return sampleRate == m_sampleRate.load() ? ASE_OK : ASE_NoClock;
}

ASIOError JackDriver::getSampleRate(ASIOSampleRate* sampleRate) {
    if (sampleRate == nullptr) {
        return fail(ASE_InvalidParameter, "getSampleRate: null pointer");
    }
    const std::lock_guard lock(m_mutex);
    if (const ASIOError refusal = checkServer("getSampleRate"); refusal != ASE_OK) {
        return refusal;
    }
    *sampleRate = m_sampleRate.load();
    return ASE_OK;
}

ASIOError JackDriver::setSampleRate(ASIOSampleRate sampleRate) {
    const std::lock_guard lock(m_mutex);
    if (const ASIOError refusal = checkServer("setSampleRate"); refusal != ASE_OK) {
        return refusal;
    }
    if (sampleRate != m_sampleRate.load()) {
        return failLocked(ASE_NoClock, "setSampleRate: the JACK server runs at " +
                                           describeRate(m_sampleRate.load()) +
                                           "; a server's rate is set when it starts");
    }
    return ASE_OK;
}

ASIOError JackDriver::getClockSources(ASIOClockSource* clocks, ASIOLong* numSources) {
    if (clocks == nullptr || numSources == nullptr || *numSources < 1) {
        return fail(ASE_InvalidParameter, "getClockSources: no room for the clock source");
    }
    clocks[0] = ASIOClockSource{0, -1, -1, ASIOTrue, {}};
    copyText(clocks[0].name, sizeof clocks[0].name, "JACK server");
    *numSources = 1;
    return ASE_OK;
}

ASIOError JackDriver::setClockSource(ASIOLong reference) {
    return reference == 0 ? ASE_OK
                          : fail(ASE_InvalidParameter, "setClockSource: the only clock is 0");
}

ASIOError JackDriver::getSamplePosition(ASIOSamples* samplePosition, ASIOTimeStamp* timeStamp) {
    if (samplePosition == nullptr || timeStamp == nullptr) {
        return ASE_InvalidParameter;
    }
    std::uint64_t samples = 0;
    jack_nframes_t frameTime = 0;
    if (m_serverGone.load() || !m_cycle.position(samples, frameTime)) {
        return ASE_SPNotAdvancing;
    }
    *samplePosition = splitCount(samples);
    *timeStamp = splitCount(jack_frames_to_time(m_client, frameTime) * 1000); // µs to ns
    return ASE_OK;
}

ASIOError JackDriver::getChannelInfo(ASIOChannelInfo* info) {
    if (info == nullptr) {
        return fail(ASE_InvalidParameter, "getChannelInfo: null pointer");
    }
    const bool isInput = info->isInput != ASIOFalse;
    const int count = isInput ? m_settings.inputs : m_settings.outputs;
    if (info->channel < 0 || info->channel >= count) {
        return fail(ASE_InvalidParameter, "getChannelInfo: no " +
                                              std::string(isInput ? "input " : "output ") +
                                              std::to_string(info->channel));
    }
    {
        const std::lock_guard lock(m_mutex);
        info->isActive = m_cycle.isActive(isInput, info->channel) ? ASIOTrue : ASIOFalse;
    }
    info->channelGroup = 0;
    info->type = ASIOSTFloat32LSB;
    copyText(info->name, sizeof info->name, jackPortShortName(isInput, info->channel));
    return ASE_OK;
}

ASIOError JackDriver::createBuffers(ASIOBufferInfo* bufferInfos, ASIOLong numChannels,
                                    ASIOLong bufferSize, ASIOCallbacks* callbacks) {
    const std::unique_lock delivery = lockDelivery();
    const std::lock_guard lock(m_mutex);
    if (const ASIOError refusal = checkServer("createBuffers"); refusal != ASE_OK) {
        return refusal;
    }
    if (m_cycle.frames() != 0) {
        return failLocked(ASE_InvalidMode,
                          "createBuffers: buffers exist already; call disposeBuffers first");
    }
    if (const ASIOError refusal =
            checkBufferRequest(bufferInfos, numChannels, bufferSize, callbacks);
        refusal != ASE_OK) {
        return refusal;
    }
    try {
        m_cycle.prepare(bufferInfos, numChannels, static_cast<jack_nframes_t>(bufferSize),
                        callbacks->bufferSwitch);
    } catch (const std::bad_alloc&) {
        return failLocked(ASE_NoMemory, "createBuffers: out of memory");
    }
    if (const ASIOError refusal = registerPorts(); refusal != ASE_OK) {
        releaseBuffers();
        return refusal;
    }
    m_callbacks = *callbacks;
    if (jack_activate(m_client) != 0) {
        releaseBuffers();
        return failLocked(ASE_HWMalfunction, "createBuffers: the JACK server refused to activate "
                                             "the client");
    }
    if (const ASIOError refusal = wire(); refusal != ASE_OK) {
        jack_deactivate(m_client);
        releaseBuffers();
        return refusal;
    }
    m_wired = true;
    return ASE_OK;
}

ASIOError JackDriver::checkBufferRequest(const ASIOBufferInfo* bufferInfos, ASIOLong numChannels,
                                         ASIOLong bufferSize, const ASIOCallbacks* callbacks) {
    if (callbacks == nullptr || callbacks->bufferSwitch == nullptr) {
        return failLocked(ASE_InvalidParameter, "createBuffers: no bufferSwitch callback");
    }
    if (bufferInfos == nullptr || numChannels < 1) {
        return failLocked(ASE_InvalidParameter, "createBuffers: no channels asked for");
    }
    const jack_nframes_t period = jack_get_buffer_size(m_client);
    if (bufferSize < 1 || static_cast<jack_nframes_t>(bufferSize) != period) {
        return failLocked(ASE_InvalidParameter,
                          "createBuffers: the only buffer size is the JACK period, " +
                              std::to_string(period) + " samples");
    }
    std::vector<bool> inputTaken(static_cast<std::size_t>(m_settings.inputs), false);
    std::vector<bool> outputTaken(static_cast<std::size_t>(m_settings.outputs), false);
    for (ASIOLong i = 0; i < numChannels; ++i) {
        const bool isInput = bufferInfos[i].isInput != ASIOFalse;
        const ASIOLong channel = bufferInfos[i].channelNum;
        auto& taken = isInput ? inputTaken : outputTaken;
        const std::string what = std::string(isInput ? "input " : "output ") +
                                 std::to_string(channel) + " (record " + std::to_string(i) + ")";
        if (channel < 0 || static_cast<std::size_t>(channel) >= taken.size()) {
            return failLocked(ASE_InvalidParameter, "createBuffers: there is no " + what);
        }
        if (taken[static_cast<std::size_t>(channel)]) {
            return failLocked(ASE_InvalidParameter,
                              "createBuffers: " + what + " is asked for twice");
        }
        taken[static_cast<std::size_t>(channel)] = true;
    }
    return ASE_OK;
}

ASIOError JackDriver::registerPorts() {
    for (JackCycle::Channel& c : m_cycle.channels()) {
        const std::string name = jackPortShortName(c.isInput, c.index);
        c.port = jack_port_register(m_client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                    c.isInput ? JackPortIsInput : JackPortIsOutput, 0);
        if (c.port == nullptr) {
            return failLocked(ASE_HWMalfunction,
                              "createBuffers: the JACK server refused the port " + name);
        }
    }
    return ASE_OK;
}

ASIOError JackDriver::wire() {
    const JackSetupCheck plan = planJackWiring(m_client, m_settings);
    if (plan.problem != JackSetupProblem::None) {
        return failLocked(ASE_NotPresent, "createBuffers: " + plan.message);
    }
    for (const JackCycle::Channel& c : m_cycle.channels()) {
        const auto& peers = c.isInput ? plan.wiring.inputSources : plan.wiring.outputTargets;
        const std::string& peer = peers[static_cast<std::size_t>(c.index)];
        // A peer that is one of the driver's own ports exists only when the host uses it.
        if (peer.empty() || jack_port_by_name(m_client, peer.c_str()) == nullptr) {
            continue;
        }
        const char* own = jack_port_name(c.port);
        const char* from = c.isInput ? peer.c_str() : own;
        const char* to = c.isInput ? own : peer.c_str();
        const int result = jack_connect(m_client, from, to);
        if (result != 0 && result != EEXIST) {
            return failLocked(ASE_NotPresent, std::string("createBuffers: JACK did not connect ") +
                                                  from + " to " + to);
        }
    }
    return ASE_OK;
}

ASIOError JackDriver::disposeBuffers() {
    if (onProcessThread()) {
        return fail(
            ASE_InvalidMode,
            "disposeBuffers: not inside bufferSwitch; stop there, dispose after it returns");
    }
    m_cycle.stop(false);
    const std::unique_lock delivery = lockDelivery();
    const std::lock_guard lock(m_mutex);
    if (m_cycle.frames() == 0) {
        return failLocked(ASE_InvalidMode, "disposeBuffers: there are no buffers");
    }
    m_wired = false;
    jack_deactivate(m_client);
    releaseBuffers();
    return ASE_OK;
}

void JackDriver::releaseBuffers() {
    for (const JackCycle::Channel& c : m_cycle.channels()) {
        if (c.port != nullptr) {
            jack_port_unregister(m_client, c.port);
        }
    }
    m_cycle.release();
    m_callbacks = {};
}

ASIOError JackDriver::controlPanel() {
    return fail(ASE_NotPresent, "controlPanel: the JACK server's settings are its own (see "
                                "jackd, or a JACK control program)");
}

ASIOError JackDriver::future(ASIOLong /*selector*/, void* /*opt*/) {
    return ASE_InvalidParameter;
}

ASIOError JackDriver::outputReady() {
    // The outputs are copied to JACK as soon as bufferSwitch returns.
    return ASE_OK;
}

ASIOError JackDriver::fail(ASIOError result, std::string reason) {
    const std::lock_guard lock(m_mutex);
    return failLocked(result, std::move(reason));
}

ASIOError JackDriver::failLocked(ASIOError result, std::string reason) {
    m_errorText = std::move(reason);
    return result;
}

ASIOError JackDriver::checkServer(const char* operation) {
    if (m_client == nullptr) {
        return failLocked(ASE_NotPresent, std::string(operation) + ": call init first");
    }
    if (m_serverGone.load()) {
        return failLocked(ASE_NotPresent, std::string(operation) + ": the JACK server shut down: " +
                                              m_shutdownReason.data());
    }
    return ASE_OK;
}

bool JackDriver::onProcessThread() const {
    return m_client != nullptr && pthread_equal(jack_client_thread_id(m_client), pthread_self());
}

bool JackDriver::onEventThread() const {
    return std::this_thread::get_id() == m_eventThread.get_id();
}

std::unique_lock<std::mutex> JackDriver::lockDelivery() {
    return onEventThread() ? std::unique_lock(m_deliveryMutex, std::defer_lock)
                           : std::unique_lock(m_deliveryMutex);
}

void JackDriver::process(jack_nframes_t frames) noexcept {
    m_cycle.run(frames, jack_last_frame_time(m_client), [frames](const JackCycle::Channel& c) {
        return static_cast<float*>(jack_port_get_buffer(c.port, frames));
    });
}

void JackDriver::onPeriod(jack_nframes_t frames) {
    // JACK also calls this as the process thread starts, with the period the buffers have; the
    // event thread tells the two apart.
    m_newPeriod = frames;
    post(kPeriodChanged);
}

void JackDriver::onSampleRate(jack_nframes_t rate) {
    // JACK also calls this when the callback is set, with the rate init read.
    if (m_sampleRate.exchange(rate) != rate) {
        post(kRateChanged);
    }
}

void JackDriver::onPortConnect(jack_port_id_t a, jack_port_id_t b, int connected) {
    if (connected != 0 || !m_wired.load()) {
        return;
    }
    jack_port_t* from = jack_port_by_id(m_client, a);
    jack_port_t* to = jack_port_by_id(m_client, b);
    if (from == nullptr || to == nullptr ||
        (!jack_port_is_mine(m_client, from) && !jack_port_is_mine(m_client, to))) {
        return;
    }
    {
        const std::lock_guard lock(m_noticeMutex);
        m_notices.push_back(std::string(jack_port_name(from)) + " was disconnected from " +
                            jack_port_name(to));
    }
    post(kNoticesQueued);
}

void JackDriver::onShutdown(const char* reason) noexcept {
    // JACK may call this from its process thread as it ends: record, nothing more.
    const char* text = reason != nullptr && reason[0] != '\0' ? reason : "no reason given";
    std::snprintf(m_shutdownReason.data(), m_shutdownReason.size(), "%s", text);
    m_serverGone = true;
    m_cycle.stop(true);
    post(kServerGone);
}

void JackDriver::post(unsigned events) noexcept {
    m_events.fetch_or(events);
    m_wake.release();
}

void JackDriver::runEvents() {
    for (;;) {
        m_wake.acquire();
        const unsigned events = m_events.exchange(0);
        if ((events & kQuit) != 0) {
            break;
        }
        deliver(events);
    }
    if (m_deleteWhenEventsEnd.load()) {
        m_eventThread.detach();
        delete this;
    }
}

void JackDriver::deliver(unsigned events) {
    const std::lock_guard delivering(m_deliveryMutex);
    const jack_nframes_t buffers = m_cycle.frames();
    const jack_nframes_t period = m_newPeriod.load();
    const bool periodChanged = (events & kPeriodChanged) != 0 && buffers != 0 && period != buffers;

    std::vector<std::string> notices;
    if ((events & kNoticesQueued) != 0) {
        const std::lock_guard lock(m_noticeMutex);
        notices.swap(m_notices);
    }
    if (periodChanged) {
        notices.push_back("the JACK period changed from " + std::to_string(buffers) + " to " +
                          std::to_string(period) + " samples");
    }
    if ((events & kRateChanged) != 0) {
        notices.push_back("the JACK sample rate changed to " + describeRate(m_sampleRate.load()));
    }
    if ((events & kServerGone) != 0) {
        notices.push_back(std::string("the JACK server shut down: ") + m_shutdownReason.data());
    }
    if (m_settings.notice) {
        for (const std::string& notice : notices) {
            m_settings.notice(notice);
        }
    }

    if (buffers == 0) {
        return; // the host finds out from the next call it makes
    }
    if ((events & kRateChanged) != 0 && m_callbacks.sampleRateDidChange != nullptr) {
        m_callbacks.sampleRateDidChange(m_sampleRate.load());
    }
    if ((periodChanged || (events & kServerGone) != 0) && m_callbacks.asioMessage != nullptr) {
        m_callbacks.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
    }
}
