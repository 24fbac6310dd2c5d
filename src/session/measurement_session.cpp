#include "session/measurement_session.h"

#include "engine/buffer_sizes.h"
#include "engine/sensitivity.h"
#include "engine/threshold_method.h"
#include "session/callback_gate.h"
#include "session/host_callbacks.h"

#include <algorithm>
#include <chrono>
#include <limits>

std::atomic<MeasurementSession*> MeasurementSession::s_active{nullptr};

namespace {

std::int32_t atLeastZero(ASIOLong count) {
    return count < 0 ? 0 : count;
}

} // namespace

MeasurementSession::MeasurementSession(DriverCatalog& catalog, SessionEvents& events)
    : m_catalog(catalog)
    , m_events(events)
    , m_callbacks(kHostCallbacks)
    , m_measurement(std::make_unique<ThresholdMethod>()) {
    m_measurement.setSensitivity(kDefaultSensitivity);
    s_active.store(this);
    SessionCallbackGate().open();
}

MeasurementSession::~MeasurementSession() {
    close();
    // Callbacks only ever reach the newest session: an older one going away leaves the gate
    // alone.
    if (s_active.load() == this) {
        SessionCallbackGate().closeAndWait();
        s_active.store(nullptr);
    }
}

SessionState MeasurementSession::state() const {
    if (!m_driver) {
        return SessionState::Closed;
    }
    if (!m_buffersCreated) {
        return SessionState::Open;
    }
    if (!m_started) {
        return SessionState::Prepared;
    }
    return m_awaiting ? SessionState::Armed : SessionState::Running;
}

// ---- The driver ----------------------------------------------------------------------------

OpenResult MeasurementSession::createAndInit(int index) {
    IASIO* driver = nullptr;
    m_driverMessage.clear();
    if (m_driver || m_catalog.OpenDriver(index, &driver) != 0) {
        return OpenResult::NotCreated;
    }
    m_driver = driver;
    m_openIndex = index;
    if (m_driver->init(&m_sysHandleWord) != ASIOTrue) {
        failed(ASE_NotPresent);
        closeDriver();
        return OpenResult::NotInitialised;
    }
    return OpenResult::Opened;
}

void MeasurementSession::closeDriver() {
    m_catalog.CloseDriver(m_openIndex);
    m_driver = nullptr;
    m_openIndex = -1;
}

OpenResult MeasurementSession::probe(int index) {
    const EventHold hold(*this);
    if (const OpenResult result = createAndInit(index); result != OpenResult::Opened) {
        return result;
    }
    readChannelCounts(kPreviewChannels);
    readLimits();
    // Into the driver's range; when its minimum lies above its maximum, the maximum wins.
    m_limits.preferredSize =
        std::min(std::max(m_limits.preferredSize, m_limits.minSize), m_limits.maxSize);
    if (!m_channels.build(ChannelSelection::all(m_numInputs, m_numOutputs), m_numInputs,
                          m_numOutputs)) {
        closeDriver();
        return OpenResult::NoMemory;
    }
    m_driver->createBuffers(m_channels.data(), m_channels.count(), m_limits.preferredSize,
                            &m_callbacks);
    m_driver->controlPanel();
    quiesce();
    m_driver->disposeBuffers();
    closeDriver();
    m_channels.release();
    return OpenResult::Opened;
}

OpenResult MeasurementSession::open(int index) {
    const EventHold hold(*this);
    if (const OpenResult result = createAndInit(index); result != OpenResult::Opened) {
        return result;
    }
    ASIOSampleRate rate = 0.0;
    m_driver->getSampleRate(&rate);
    m_measurement.setSampleRate(rate);
    readLimits();
    m_bufferSize = m_limits.preferredSize;
    readRates();
    readChannelCounts(std::numeric_limits<std::int32_t>::max());
    readLimits();
    m_inputNames.clear();
    m_outputNames.clear();
    m_driverIndex = index;
    return OpenResult::Opened;
}

void MeasurementSession::close() {
    const EventHold hold(*this);
    m_measurement.disarm();
    m_awaiting = false;
    if (m_driver && m_started) {
        m_driver->stop();
    }
    m_started = false;
    quiesce();
    if (m_driver && m_buffersCreated) {
        m_driver->disposeBuffers();
    }
    m_buffersCreated = false;
    m_channels.release();
    if (m_driver) {
        closeDriver();
    }
}

void MeasurementSession::closeForReset() {
    const EventHold hold(*this);
    m_resetPending = 0;
    if (m_driver) {
        m_measurement.disarm();
        m_awaiting = false;
        m_driver->stop();
        m_started = false;
        // A driver may return from stop while a buffer switch is still running on its thread:
        // nothing is freed before that switch has left the session.
        quiesce();
        m_driver->disposeBuffers();
        closeDriver();
    }
    m_buffersCreated = false;
    m_channels.release();
}

OpenResult MeasurementSession::reset() {
    const EventHold hold(*this);
    const int index = m_driverIndex;
    closeForReset();
    const OpenResult result = open(index);
    if (result != OpenResult::Opened) {
        m_events.post(
            {.kind = SessionEventKind::DriverFailure, .failure = DriverFailure::CannotReopen});
        return result;
    }
    if (m_chosenRate && m_chosenRate != m_measurement.sampleRate() &&
        std::find(m_rates.begin(), m_rates.end(), *m_chosenRate) != m_rates.end()) {
        setSampleRate(*m_chosenRate);
    }
    if (m_chosenBufferSize) {
        setBufferSize(*m_chosenBufferSize);
    }
    return result;
}

void MeasurementSession::readLimits() {
    ASIOLong minSize = 0;
    ASIOLong maxSize = 0;
    ASIOLong preferred = 0;
    ASIOLong granularity = 0;
    m_driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity);
    m_limits = {minSize, maxSize, preferred, granularity};
}

void MeasurementSession::readRates() {
    m_rates.clear();
    for (const ASIOSampleRate rate : kCandidateRates) {
        if (m_driver->canSampleRate(rate) == ASE_OK) {
            m_rates.push_back(rate);
        }
    }
}

void MeasurementSession::readChannelCounts(std::int32_t limit) {
    ASIOLong inputs = 0;
    ASIOLong outputs = 0;
    m_driver->getChannels(&inputs, &outputs);
    m_numInputs = std::min(atLeastZero(inputs), limit);
    m_numOutputs = std::min(atLeastZero(outputs), limit);
}

std::vector<std::int32_t> MeasurementSession::bufferSizes() const {
    std::vector<std::int32_t> sizes;
    for (BufferSizeWalk walk(m_limits.minSize, m_limits.maxSize, m_limits.granularity);
         !walk.done(); walk.next()) {
        sizes.push_back(walk.size());
    }
    return sizes;
}

// ---- Setup ---------------------------------------------------------------------------------

ASIOError MeasurementSession::setSampleRate(ASIOSampleRate rate) {
    const EventHold hold(*this);
    if (state() != SessionState::Open) {
        return m_driver ? ASE_InvalidMode : ASE_NotPresent;
    }
    if (const ASIOError result = m_driver->setSampleRate(rate); result != ASE_OK) {
        return failed(result);
    }
    m_measurement.setSampleRate(rate);
    m_chosenRate = rate;
    readRates();
    readLimits();
    return ASE_OK;
}

bool MeasurementSession::setBufferSize(std::int32_t size) {
    const std::vector<std::int32_t> sizes = bufferSizes();
    if (std::find(sizes.begin(), sizes.end(), size) == sizes.end()) {
        return false;
    }
    m_bufferSize = size;
    m_chosenBufferSize = size;
    return true;
}

bool MeasurementSession::selectChannels(ChannelSelection selection) {
    if (!selection.fits(m_numInputs, m_numOutputs)) {
        return false;
    }
    m_selection = std::move(selection);
    return true;
}

ChannelSelection MeasurementSession::channelsChosen() const {
    ChannelSelection chosen = ChannelSelection::all(m_numInputs, m_numOutputs);
    if (!m_selection.inputs.empty()) {
        chosen.inputs = m_selection.inputs;
    }
    if (!m_selection.outputs.empty()) {
        chosen.outputs = m_selection.outputs;
    }
    return chosen;
}

void MeasurementSession::readChannelNames() {
    const EventHold hold(*this);
    const auto namesOf = [this](std::int32_t count, ASIOBool isInput) {
        std::vector<std::string> names;
        for (std::int32_t channel = 0; m_driver && channel < std::min(count, kMaxChannels);
             ++channel) {
            ASIOChannelInfo info{};
            info.channel = channel;
            info.isInput = isInput;
            const bool named = m_driver->getChannelInfo(&info) == ASE_OK;
            info.name[sizeof info.name - 1] = '\0';
            names.emplace_back(named ? info.name : "");
        }
        return names;
    };
    m_inputNames = namesOf(m_numInputs, ASIOTrue);
    m_outputNames = namesOf(m_numOutputs, ASIOFalse);
}

// ---- The stream ----------------------------------------------------------------------------

ASIOError MeasurementSession::prepare() {
    const EventHold hold(*this);
    if (state() != SessionState::Open) {
        return m_driver ? ASE_InvalidMode : ASE_NotPresent;
    }
    ChannelSelection chosen = channelsChosen();
    if (!m_channels.build(chosen, m_numInputs, m_numOutputs)) {
        return ASE_NoMemory;
    }
    if (const ASIOError result = m_driver->createBuffers(m_channels.data(), m_channels.count(),
                                                         m_bufferSize, &m_callbacks);
        result != ASE_OK) {
        m_channels.release();
        return failed(result);
    }
    m_buffersCreated = true;
    m_prepared = std::move(chosen);

    ASIOLong inputLatency = 0;
    ASIOLong outputLatency = 0;
    m_driver->getLatencies(&inputLatency, &outputLatency);
    m_reportedInputLatency = inputLatency;
    m_reportedOutputLatency = outputLatency;
    // Only the channel and direction are set: a driver that fills nothing leaves the type it
    // gave the last time.
    m_inputInfo.channel = m_prepared.inputs.empty() ? 0 : m_prepared.inputs.front();
    m_inputInfo.isInput = ASIOTrue;
    m_outputInfo.channel = m_prepared.outputs.empty() ? 0 : m_prepared.outputs.front();
    m_outputInfo.isInput = ASIOFalse;
    // A direction without channels has nothing to describe; arming says it has none.
    const bool inputDescribed =
        m_prepared.inputs.empty() || m_driver->getChannelInfo(&m_inputInfo) == ASE_OK;
    const bool outputDescribed =
        m_prepared.outputs.empty() || m_driver->getChannelInfo(&m_outputInfo) == ASE_OK;
    m_channelsDescribed = inputDescribed && outputDescribed;
    // Every buffer, inputs included, takes the sample format of the first output.
    m_sampleLayout = layoutOf(m_outputInfo.type);
    m_sampleBytes = m_sampleLayout.bytes;
    return ASE_OK;
}

ASIOError MeasurementSession::start() {
    const EventHold hold(*this);
    if (state() == SessionState::Running || state() == SessionState::Armed) {
        return ASE_OK;
    }
    if (state() != SessionState::Prepared) {
        return m_driver ? ASE_InvalidMode : ASE_NotPresent;
    }
    if (const ASIOError result = m_driver->start(); result != ASE_OK) {
        return failed(result);
    }
    m_started = true;
    return ASE_OK;
}

StreamSnapshot MeasurementSession::snapshot() const {
    return {m_channels.data(), m_channels.inputs(),    m_channels.outputs(),   m_bufferSize,
            m_sampleLayout,    m_reportedInputLatency, m_reportedOutputLatency};
}

ArmRefusal MeasurementSession::arm() {
    if (state() == SessionState::Armed) {
        // A measurement still in flight is cut short before its state is armed anew.
        m_measurement.disarm();
        m_awaiting = false;
        quiesce();
    }
    switch (state()) {
    case SessionState::Closed:
    case SessionState::Open:
        return ArmRefusal::NoBuffers;
    case SessionState::Prepared:
        return ArmRefusal::StreamStopped;
    case SessionState::Running:
    case SessionState::Armed:
        break;
    }
    // Before the format is judged: what the driver would not describe has none to judge.
    if (!m_channelsDescribed) {
        return ArmRefusal::ChannelUndescribed;
    }
    if (const ArmRefusal refusal = m_measurement.arm(snapshot()); refusal != ArmRefusal::None) {
        return refusal;
    }
    m_awaiting = true;
    m_judgedUpTo = 0;
    return ArmRefusal::None;
}

void MeasurementSession::endEarlyIfComplete() {
    if (!m_endEarly || state() != SessionState::Armed || !m_measurement.armed()) {
        return;
    }
    // Each look analyses the whole recording so far: looking again only once it has grown by an
    // eighth keeps a long run's looks few, and an early end late by an eighth at most.
    const std::size_t recorded = m_measurement.recordedSamples();
    if (recorded <= m_judgedUpTo + m_judgedUpTo / 8) {
        return;
    }
    m_judgedUpTo = recorded;
    if (m_measurement.recordingComplete()) {
        m_measurement.requestEnd();
    }
}

std::optional<MeasurementResult> MeasurementSession::collectResult() {
    if (state() != SessionState::Armed || m_measurement.armed()) {
        return std::nullopt;
    }
    m_awaiting = false;
    return withDriverChannels(m_measurement.result());
}

std::vector<MeasurementResult> MeasurementSession::resultPerInput() const {
    std::vector<MeasurementResult> results = m_measurement.resultPerInput();
    for (MeasurementResult& result : results) {
        result = withDriverChannels(std::move(result));
    }
    return results;
}

MeasurementResult MeasurementSession::withDriverChannels(MeasurementResult result) const {
    const auto channelAt = [this](auto position) {
        const auto index = static_cast<std::size_t>(position);
        return position >= 0 && index < m_prepared.inputs.size() ? m_prepared.inputs[index]
                                                                 : position;
    };
    if (result.threshold) {
        result.threshold->input = channelAt(result.threshold->input);
    }
    if (result.correlation) {
        result.correlation->input = channelAt(result.correlation->input);
    }
    result.outputsPlayed = m_prepared.outputs;
    return result;
}

ASIOError MeasurementSession::stop() {
    const EventHold hold(*this);
    m_measurement.disarm();
    m_awaiting = false;
    // Whatever stop answers, the driver is asked once per start.
    m_started = false;
    if (!m_driver) {
        return ASE_NotPresent;
    }
    if (const ASIOError result = m_driver->stop(); result != ASE_OK) {
        return failed(result);
    }
    return ASE_OK;
}

void MeasurementSession::disposeBuffers() {
    const EventHold hold(*this);
    m_measurement.disarm();
    m_awaiting = false;
    if (m_driver) {
        quiesce();
        m_driver->disposeBuffers();
    }
    m_buffersCreated = false;
    m_channels.release();
}

ASIOError MeasurementSession::failed(ASIOError error) {
    m_driverMessage.clear();
    if (m_explainFailures && m_driver) {
        char text[256]{};
        m_driver->getErrorMessage(text);
        text[sizeof text - 1] = '\0';
        m_driverMessage = text;
    }
    return error;
}

void MeasurementSession::quiesce() {
    if (s_active.load() == this) {
        SessionCallbackGate().closeAndWait();
        SessionCallbackGate().open();
    }
}

// ---- Events --------------------------------------------------------------------------------

MeasurementSession::EventHold::EventHold(MeasurementSession& session)
    : m_session(session) {
    ++m_session.m_holdDepth;
}

MeasurementSession::EventHold::~EventHold() {
    if (--m_session.m_holdDepth == 0) {
        m_session.deliverHeld();
    }
}

void MeasurementSession::deliverAfterHold(const SessionEvent& event) {
    m_held.push_back({event, true});
}

void MeasurementSession::deliverHeld() {
    // Each notice may run a message loop that leads to more held events; those come next.
    while (!m_held.empty() && m_holdDepth == 0) {
        std::vector<HeldEvent> held;
        held.swap(m_held);
        for (const HeldEvent& entry : held) {
            if (!entry.announced) {
                m_events.announce(entry.event);
            }
            m_events.post(entry.event);
        }
    }
}

bool MeasurementSession::calledBackFromInsideACall() const {
    return std::this_thread::get_id() == m_ownerThread && m_holdDepth > 0;
}

SwitchClock MeasurementSession::switchClock() const {
    const auto joined = [](const ASIOSamples& count) {
        return std::uint64_t{count.hi} << 32 | count.lo;
    };
    ASIOSamples position{};
    ASIOTimeStamp stamp{};
    if (m_driver && m_driver->getSamplePosition(&position, &stamp) == ASE_OK) {
        return {joined(position), static_cast<std::int64_t>(joined(stamp))};
    }
    return {std::nullopt, std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count()};
}

void MeasurementSession::onBufferSwitch(ASIOLong doubleBufferIndex) {
    m_switches.fetch_add(1, std::memory_order_relaxed);
    // Only an armed run watches for dropouts: an idle stream costs the driver no extra call.
    const SwitchOutcome outcome = m_measurement.onBufferSwitch(
        doubleBufferIndex, m_measurement.armed() ? switchClock() : SwitchClock{});
    if (outcome == SwitchOutcome::Unarmed) {
        return;
    }
    if (outcome == SwitchOutcome::Ended) {
        m_events.post(
            {.kind = SessionEventKind::Result, .wholeSamples = m_measurement.endedWholeSamples()});
    }
    if (m_driver) {
        m_driver->outputReady();
    }
}

void MeasurementSession::onDriverTrouble() {
    m_troubleReports.fetch_add(1, std::memory_order_relaxed);
    m_measurement.noteDriverTrouble();
}

void MeasurementSession::onSampleRateChange(ASIOSampleRate rate) {
    m_measurement.setSampleRate(rate);
    const SessionEvent event{.kind = SessionEventKind::RateChange, .sampleRate = rate};
    if (calledBackFromInsideACall()) {
        m_held.push_back({event, false});
        return;
    }
    m_events.announce(event);
    m_events.post(event);
}

void MeasurementSession::onResetRequest() {
    const SessionEvent event{.kind = SessionEventKind::ResetRequest};
    if (calledBackFromInsideACall()) {
        m_resetPending = 1;
        m_held.push_back({event, false});
        return;
    }
    m_events.announce(event);
    // Set before the post, so that the owner's clearing always comes after it.
    m_resetPending = 1;
    m_events.post(event);
}
