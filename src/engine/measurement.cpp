#include "engine/measurement.h"

#include "engine/sensitivity.h"

#include <algorithm>

Measurement::Measurement(std::unique_ptr<DetectionMethod> method)
    : m_method(std::move(method)) {}

Measurement::~Measurement() = default;

void Measurement::setMethod(std::unique_ptr<DetectionMethod> method) {
    m_method = std::move(method);
}

namespace {

// The samples a recording of the method's whole run takes in each channel.
double recordingSamples(const DetectionMethod& method, const StreamSnapshot& stream, double rate) {
    return static_cast<double>(method.switchLimit(stream, rate)) * stream.frames;
}

} // namespace

ArmRefusal Measurement::check(const StreamSnapshot& stream) const {
    if (!stream.channels) {
        return ArmRefusal::NoBuffers;
    }
    if (stream.numOutputs <= 0) {
        return ArmRefusal::NoOutputChannel;
    }
    if (stream.numInputs <= 0) {
        return ArmRefusal::NoInputChannel;
    }
    if (stream.layout.encoding == SampleEncoding::Unsupported) {
        return ArmRefusal::UnsupportedFormat;
    }
    if (stream.numInputs > kMaxChannels || stream.numOutputs > kMaxChannels) {
        return ArmRefusal::TooManyChannels;
    }
    if (stream.frames < 1 || stream.frames > kMaxBufferFrames) {
        return ArmRefusal::BufferSizeOutOfRange;
    }
    const double rate = sampleRate();
    if (!(rate >= kMinSampleRate && rate <= kMaxSampleRate)) {
        return ArmRefusal::SampleRateOutOfRange;
    }
    if (records() &&
        Recorder::bytesFor(recordedChannels(stream), recordingSamples(*m_method, stream, rate),
                           stream.layout) > kMaxRecordingBytes) {
        return ArmRefusal::RecordingTooLarge;
    }
    return ArmRefusal::None;
}

ArmRefusal Measurement::arm(const StreamSnapshot& stream) {
    if (const ArmRefusal refusal = check(stream); refusal != ArmRefusal::None) {
        return refusal;
    }
    const double rate = sampleRate();
    m_method->prepare(stream, rate);
    const bool recordingOn = records();
    std::size_t capacity = 0;
    if (recordingOn) {
        // Asked again now that the method is prepared, as its run may depend on it.
        const double samples = recordingSamples(*m_method, stream, rate);
        if (Recorder::bytesFor(recordedChannels(stream), samples, stream.layout) >
            kMaxRecordingBytes) {
            return ArmRefusal::RecordingTooLarge;
        }
        capacity = static_cast<std::size_t>(samples);
    }
    m_recordingOn = recordingOn;
    m_recordOutputs = recordingOn && m_recordWanted;
    m_recorder.prepare(recordingOn ? stream.numInputs : 0, m_recordOutputs ? stream.numOutputs : 0,
                       capacity, stream.layout, rate, stream.frames);
    m_stream = stream;
    m_runEnd = RunEnd::Method;
    m_listening = m_quietStart.has_value();
    if (m_listening) {
        m_listener.start(*m_quietStart, rate);
    }
    m_dropouts.start(stream.frames, rate);
    m_endRequested.store(false, std::memory_order_relaxed);
    m_switchCount.store(0, std::memory_order_relaxed);
    m_armed.store(true, std::memory_order_release);
    return ArmRefusal::None;
}

SwitchOutcome Measurement::onBufferSwitch(ASIOLong doubleBufferIndex, const SwitchClock& clock) {
    if (!m_armed.load(std::memory_order_acquire)) {
        return SwitchOutcome::Unarmed;
    }
    const int half = doubleBufferIndex == 0 ? 0 : 1;
    if (m_listening) {
        switch (m_listener.onSwitch(m_stream, half)) {
        case QuietListener::State::Listening:
            return SwitchOutcome::Running;
        case QuietListener::State::NeverQuiet:
            return end(RunEnd::NeverQuiet, 0, 0);
        case QuietListener::State::Quiet:
            m_listening = false; // the method starts at the next switch
            return SwitchOutcome::Running;
        }
    }

    const std::int32_t index = m_switchCount.load(std::memory_order_relaxed);
    const std::size_t frames = static_cast<std::size_t>(m_stream.frames);
    const std::size_t start = static_cast<std::size_t>(index) * frames;
    const std::size_t capacity = m_recorder.capacity();
    const std::size_t count = start < capacity ? std::min(frames, capacity - start) : 0;
    // The inputs as the driver handed them over, before the method silences anything.
    for (std::int32_t i = 0; count > 0 && i < m_stream.numInputs; ++i) {
        m_recorder.copyInput(i, m_stream.input(i, half), start, count);
    }
    const SwitchVerdict verdict = m_method->onSwitch(
        m_stream, half, index, thresholdForSensitivity(sensitivity()), sampleRate());
    for (std::int32_t k = 0; count > 0 && m_recordOutputs && k < m_stream.numOutputs; ++k) {
        m_recorder.copyOutput(k, m_stream.output(k, half), start, count);
    }
    if (count > 0) {
        m_recorder.publish(start + count);
    }
    m_dropouts.noteSwitch(clock);

    switch (verdict.kind) {
    case SwitchVerdict::Ended:
        return end(RunEnd::Method, verdict.wholeSamples, index + 1);
    case SwitchVerdict::TimedOut:
        return end(RunEnd::TimedOut, 0, 0);
    case SwitchVerdict::Continue:
        break;
    }
    // A run never outlasts its recording, whatever rate the driver reports meanwhile.
    if (m_recordingOn && start + frames >= capacity) {
        return end(RunEnd::TimedOut, 0, 0);
    }
    if (m_endRequested.load(std::memory_order_relaxed) && m_method->canEndAfter(index)) {
        return end(RunEnd::Method, 0, index + 1);
    }
    m_switchCount.store(index + 1, std::memory_order_relaxed);
    return SwitchOutcome::Running;
}

SwitchOutcome Measurement::end(RunEnd how, std::int64_t wholeSamples, std::int32_t finalCount) {
    // The measurement's state is final before the flag says so: an owner that re-arms as soon
    // as it sees the flag clear must find nothing of this switch left to be written.
    m_runEnd = how;
    m_endedWholeSamples = wholeSamples;
    m_switchCount.store(finalCount, std::memory_order_relaxed);
    m_armed.store(false, std::memory_order_release);
    return SwitchOutcome::Ended;
}

bool Measurement::recordingComplete() const {
    if (!m_recordingOn) {
        return false;
    }
    const Recording& sofar = recording();
    return m_method->complete(sofar, sofar.length);
}

MeasurementResult Measurement::result() const {
    return resultFrom(recording());
}

std::vector<MeasurementResult> Measurement::resultPerInput() const {
    std::vector<MeasurementResult> results;
    if (!m_method->judgesEveryInput()) {
        return results;
    }
    const Recording& whole = recording();
    Recording alone{whole.sampleRate, whole.bufferSize, {}, {{}}, whole.length};
    for (std::size_t input = 0; input < whole.inputs.size(); ++input) {
        alone.inputs.front() = whole.inputs[input];
        MeasurementResult result = resultFrom(alone);
        if (result.correlation) {
            result.correlation->input = static_cast<int>(input);
        }
        results.push_back(std::move(result));
    }
    return results;
}

MeasurementResult Measurement::resultFrom(const Recording& recorded) const {
    MeasurementResult result;
    result.method = m_method->kind();
    result.sampleRate = sampleRate();
    result.bufferSize = m_stream.frames;
    result.sensitivity = sensitivity();
    result.reportedInputLatency = m_stream.reportedInputLatency;
    result.reportedOutputLatency = m_stream.reportedOutputLatency;
    std::vector<VerdictReason> reasons;
    if (m_runEnd == RunEnd::NeverQuiet) {
        reasons.push_back({VerdictReason::InputsNeverQuiet, m_listener.quietestDbfs()});
    } else {
        m_method->describe(result, recorded);
        reasons = std::move(result.verdict.reasons);
        if (const std::int64_t periods = m_dropouts.periodsAmiss(); periods > 0) {
            reasons.push_back({VerdictReason::Dropout, static_cast<double>(periods)});
        }
    }
    result.verdict = settleVerdict(result.latencySamples.has_value(), std::move(reasons));
    return result;
}

std::int64_t Measurement::recordedChannels(const StreamSnapshot& stream) const {
    return std::int64_t{stream.numInputs} + (m_recordWanted ? stream.numOutputs : 0);
}
