#include "drivers/jack/jack_driver.h"

#include "drivers/jack/jack_setup.h"

#include <jack/types.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <new>
#include <system_error>

static_assert(std::endian::native == std::endian::little,
              "JACK's native floats are handed to the host as Float32LSB");

namespace {

using Clock = std::chrono::steady_clock;

// How often the event thread looks at the process cycles when nothing else wakes it.
constexpr auto kWatchInterval = kJackStallTimeout / 4;

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
    : DriverBase({kJackDriverClassId, kJackDriverName, kJackDriverVersion, "JACK server"})
    , m_settings(settings) {}

JackDriver::~JackDriver() {
    // First the client, through which JACK's callbacks reach this driver.
    m_client.reset();
    if (m_eventThread.joinable()) {
        post(kQuit);
        m_eventThread.join();
    }
}

void JackDriver::lastReleased() {
    if (onProcessThread() || onEventThread()) {
        // Neither thread can close the client or join itself: the event thread ends the driver
        // once it is out of the host's callback.
        m_deleteWhenEventsEnd = true;
        post(kQuit);
        return;
    }
    delete this;
}

ASIOBool JackDriver::init(void* /*sysHandle*/) {
    const std::lock_guard lock(m_mutex);
    if (m_client != nullptr) {
        return ASIOTrue;
    }
    std::string why;
    std::unique_ptr<JackClient> client = JackClient::open(m_settings.clientName, true, this, why);
    if (client == nullptr) {
        fail(ASE_NotPresent, "init: " + why);
        return ASIOFalse;
    }
    m_sampleRate = jack_get_sample_rate(client->handle());
    try {
        m_handle = client->handle();
        m_client = std::move(client);
        m_eventThread = std::thread(&JackDriver::runEvents, this);
        return ASIOTrue;
    } catch (const std::system_error&) {
        m_client.reset();
        fail(ASE_HWMalfunction, "init: the driver's event thread could not be started");
        return ASIOFalse;
    }
}

ASIOError JackDriver::start() {
    const std::lock_guard lock(m_mutex);
    if (const ASIOError refusal = checkServer("start"); refusal != ASE_OK) {
        return refusal;
    }
    if (m_cycle.frames() == 0) {
        return fail(ASE_InvalidMode, "start: no buffers; call createBuffers first");
    }
    if (m_cycle.isRunning()) {
        return ASE_OK;
    }
    if (onProcessThread()) {
        return fail(ASE_InvalidMode, "start: not inside bufferSwitch; start after it returns");
    }
    const jack_nframes_t period = jack_get_buffer_size(m_client->handle());
    if (period != m_cycle.frames()) {
        return fail(ASE_InvalidMode, "start: the JACK period is now " + std::to_string(period) +
                                         " samples; create the buffers again");
    }
    m_xrunsAtStart = m_xruns.load();
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
    jack_client_t* const client = m_client->handle();
    const JackSetupCheck plan = planJackWiring(client, m_settings);
    if (plan.problem != JackSetupProblem::None) {
        return fail(ASE_NotPresent, "getLatencies: " + plan.message);
    }
    const auto largest = [client](const std::vector<std::string>& peers,
                                  jack_latency_callback_mode_t mode) {
        jack_nframes_t latency = 0;
        for (const std::string& peer : peers) {
            if (jack_port_t* port =
                    peer.empty() ? nullptr : jack_port_by_name(client, peer.c_str())) {
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
    const auto period = static_cast<ASIOLong>(jack_get_buffer_size(m_client->handle()));
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
        return fail(ASE_NoClock, "setSampleRate: the JACK server runs at " +
                                     describeRate(m_sampleRate.load()) +
                                     "; a server's rate is set when it starts");
    }
    return ASE_OK;
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
    *samplePosition = kit::splitCount(samples);
    *timeStamp = kit::splitCount(jack_frames_to_time(m_handle, frameTime) * 1000);
    return ASE_OK;
}

ASIOError JackDriver::getChannelInfo(ASIOChannelInfo* info) {
    if (const std::string why = kit::whyNoChannel(info, {m_settings.inputs, m_settings.outputs});
        !why.empty()) {
        return fail(ASE_InvalidParameter, "getChannelInfo: " + why);
    }
    const bool isInput = info->isInput != ASIOFalse;
    {
        const std::lock_guard lock(m_mutex);
        info->isActive = m_cycle.isActive(isInput, info->channel) ? ASIOTrue : ASIOFalse;
    }
    info->channelGroup = 0;
    info->type = ASIOSTFloat32LSB;
    kit::copyText(info->name, sizeof info->name, jackPortShortName(isInput, info->channel));
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
        return fail(ASE_InvalidMode,
                    "createBuffers: buffers exist already; call disposeBuffers first");
    }
    const jack_nframes_t period = jack_get_buffer_size(m_client->handle());
    const bool periodAsked = bufferSize >= 1 && static_cast<jack_nframes_t>(bufferSize) == period;
    if (const std::string why = kit::whyRefused(
            bufferInfos, numChannels, callbacks, {m_settings.inputs, m_settings.outputs},
            periodAsked ? ""
                        : "the only buffer size is the JACK period, " + std::to_string(period) +
                              " samples");
        !why.empty()) {
        return fail(ASE_InvalidParameter, "createBuffers: " + why);
    }
    try {
        m_cycle.prepare(bufferInfos, numChannels, period, callbacks->bufferSwitch);
    } catch (const std::bad_alloc&) {
        return fail(ASE_NoMemory, "createBuffers: out of memory");
    }
    if (const ASIOError refusal = registerPorts(); refusal != ASE_OK) {
        releaseBuffers();
        return refusal;
    }
    m_callbacks = *callbacks;
    m_xrunsTold = m_xruns.load();
    m_takesOverload = -1;
    if (!m_client->activate()) {
        releaseBuffers();
        return refused("createBuffers", ASE_HWMalfunction,
                       "the JACK server refused to activate the client");
    }
    m_active = true;
    if (const ASIOError refusal = wire(); refusal != ASE_OK) {
        m_active = false;
        m_client->deactivate();
        releaseBuffers();
        return refusal;
    }
    m_wired = true;
    return ASE_OK;
}

ASIOError JackDriver::registerPorts() {
    for (JackCycle::Channel& c : m_cycle.channels()) {
        const std::string name = jackPortShortName(c.isInput, c.index);
        c.port = m_client->registerPort(name, c.isInput ? JackPortIsInput : JackPortIsOutput);
        if (c.port == nullptr) {
            return refused("createBuffers", ASE_HWMalfunction,
                           "the JACK server refused the port " + name);
        }
    }
    return ASE_OK;
}

ASIOError JackDriver::wire() {
    jack_client_t* const client = m_client->handle();
    const JackSetupCheck plan = planJackWiring(client, m_settings);
    if (plan.problem != JackSetupProblem::None) {
        return fail(ASE_NotPresent, "createBuffers: " + plan.message);
    }
    for (const JackCycle::Channel& c : m_cycle.channels()) {
        const auto& peers = c.isInput ? plan.wiring.inputSources : plan.wiring.outputTargets;
        const std::string& peer = peers[static_cast<std::size_t>(c.index)];
        // A peer that is one of the driver's own ports exists only when the host uses it.
        if (peer.empty() || jack_port_by_name(client, peer.c_str()) == nullptr) {
            continue;
        }
        const std::string own = jack_port_name(c.port);
        const std::string& from = c.isInput ? peer : own;
        const std::string& to = c.isInput ? own : peer;
        const int result = m_client->connect(from, to);
        if (result != 0 && result != EEXIST) {
            return refused("createBuffers", ASE_NotPresent,
                           "JACK did not connect " + from + " to " + to);
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
        return fail(ASE_InvalidMode, "disposeBuffers: there are no buffers");
    }
    m_wired = false;
    m_active = false;
    // A lost client shuts JACK out before the buffers go, and a dead server runs no cycle.
    const bool deactivated = m_client->deactivate();
    releaseBuffers();
    return deactivated ? ASE_OK : checkServer("disposeBuffers");
}

void JackDriver::releaseBuffers() {
    for (const JackCycle::Channel& c : m_cycle.channels()) {
        if (c.port != nullptr) {
            m_client->unregisterPort(c.port);
        }
    }
    m_cycle.release();
    m_callbacks = {};
}

ASIOError JackDriver::controlPanel() {
    return fail(ASE_NotPresent, "controlPanel: the JACK server's settings are its own (see "
                                "jackd, or a JACK control program)");
}

ASIOError JackDriver::outputReady() {
    // The outputs are copied to JACK as soon as bufferSwitch returns.
    return ASE_OK;
}

ASIOError JackDriver::checkServer(const char* operation) {
    const std::string prefix = std::string(operation) + ": ";
    if (m_client == nullptr) {
        return fail(ASE_NotPresent, prefix + "call init first");
    }
    if (m_serverGone.load()) {
        return fail(ASE_NotPresent, prefix + m_goneReason.data());
    }
    if (m_client->lost()) {
        return fail(ASE_NotPresent, prefix + jackServerLate());
    }
    return ASE_OK;
}

ASIOError JackDriver::refused(const char* operation, ASIOError result, const std::string& why) {
    if (const ASIOError gone = checkServer(operation); gone != ASE_OK) {
        return gone;
    }
    return fail(result, std::string(operation) + ": " + why);
}

bool JackDriver::onProcessThread() const {
    return m_client != nullptr && m_client->onProcessThread();
}

bool JackDriver::onEventThread() const {
    return std::this_thread::get_id() == m_eventThread.get_id();
}

std::unique_lock<std::mutex> JackDriver::lockDelivery() {
    return onEventThread() ? std::unique_lock(m_deliveryMutex, std::defer_lock)
                           : std::unique_lock(m_deliveryMutex);
}

void JackDriver::process(jack_nframes_t frames) noexcept {
    m_cycles.fetch_add(1, std::memory_order_relaxed);
    m_cycle.run(frames, jack_last_frame_time(m_handle), [frames](const JackCycle::Channel& c) {
        return static_cast<float*>(jack_port_get_buffer(c.port, frames));
    });
}

void JackDriver::periodChanged(jack_nframes_t frames) noexcept {
    // JACK also calls this as the process thread starts, with the period the buffers have; the
    // event thread tells the two apart.
    m_newPeriod = frames;
    post(kPeriodChanged);
}

void JackDriver::rateChanged(jack_nframes_t rate) noexcept {
    // JACK also calls this as init sets the callback: the first rate is no change.
    if (const double before = m_sampleRate.exchange(rate); before != 0 && before != rate) {
        post(kRateChanged);
    }
}

void JackDriver::xrun() noexcept {
    m_xruns.fetch_add(1);
    post(kXrun);
}

void JackDriver::disconnected(jack_port_id_t from, jack_port_id_t to) noexcept {
    if (!m_wired.load()) {
        return;
    }
    jack_port_t* source = jack_port_by_id(m_handle, from);
    jack_port_t* target = jack_port_by_id(m_handle, to);
    if (source == nullptr || target == nullptr ||
        (!jack_port_is_mine(m_handle, source) && !jack_port_is_mine(m_handle, target))) {
        return;
    }
    try {
        const std::lock_guard lock(m_noticeMutex);
        m_notices.push_back(std::string(jack_port_name(source)) + " was disconnected from " +
                            jack_port_name(target));
    } catch (const std::bad_alloc&) {
        return;
    }
    post(kNoticesQueued);
}

void JackDriver::serverShutDown(const char* reason) noexcept {
    // JACK may call this from its process thread as it ends: record, nothing more.
    char text[sizeof m_goneReason];
    std::snprintf(text, sizeof text, "the JACK server shut down: %s",
                  reason != nullptr && reason[0] != '\0' ? reason : "no reason given");
    serverGone(text);
}

void JackDriver::serverGone(const char* reason) noexcept {
    if (m_goneClaimed.exchange(true)) {
        return;
    }
    std::snprintf(m_goneReason.data(), m_goneReason.size(), "%s", reason);
    m_serverGone = true;
    m_cycle.stop(true);
    post(kServerGone);
}

void JackDriver::post(unsigned events) noexcept {
    m_events.fetch_or(events);
    m_wake.release();
}

void JackDriver::runEvents() {
    CycleWatch watch;
    for (;;) {
        const bool woken = m_wake.try_acquire_for(kWatchInterval);
        watchCycles(watch);
        if (!woken) {
            continue;
        }
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

void JackDriver::watchCycles(CycleWatch& watch) {
    const bool active = m_active.load();
    const std::uint64_t cycles = m_cycles.load(std::memory_order_relaxed);
    const Clock::time_point now = Clock::now();
    // The time runs from the first look at an active client, however long activating it took.
    if (!active || !watch.active || cycles != watch.cycles) {
        watch = {active, cycles, now};
    } else if (now - watch.since >= kJackStallTimeout) {
        char reason[sizeof m_goneReason];
        std::snprintf(
            reason, sizeof reason, "the JACK server stopped: no process cycle for %lld ms",
            static_cast<long long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(now - watch.since).count()));
        serverGone(reason);
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
        notices.emplace_back(m_goneReason.data());
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
    if ((events & kXrun) != 0 && !m_serverGone.load()) {
        tellOverloads();
    }
    if ((periodChanged || (events & kServerGone) != 0) && m_callbacks.asioMessage != nullptr) {
        m_callbacks.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
    }
}

void JackDriver::tellOverloads() {
    if (m_callbacks.asioMessage == nullptr) {
        return;
    }
    if (m_takesOverload < 0) {
        m_takesOverload =
            m_callbacks.asioMessage(kAsioSelectorSupported, kAsioOverload, nullptr, nullptr) != 0;
    }
    for (const std::uint64_t xruns = m_xruns.load(); m_xrunsTold < xruns; ++m_xrunsTold) {
        if (m_takesOverload != 0) {
            m_callbacks.asioMessage(kAsioOverload, 0, nullptr, nullptr);
        }
    }
}
