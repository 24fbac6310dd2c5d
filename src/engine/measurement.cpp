#include "engine/measurement.h"

#include "engine/sensitivity.h"

#include <algorithm>

Measurement::Measurement(std::unique_ptr<DetectionMethod> method)
    : m_method(std::move(method)) {}

Measurement::~Measurement() = default;

void Measurement::setMethod(std::unique_ptr<DetectionMethod> method) {
    m_method = std::move(method);
}

ArmRefusal Measurement::check(const StreamSnapshot& stream) {
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
    return ArmRefusal::None;
}

void Measurement::arm(const StreamSnapshot& stream) {
    m_stream = stream;
    m_timedOut = false;
    m_method->prepare(stream, sampleRate());
    prepareRecording();
    m_switchCount.store(0, std::memory_order_relaxed);
    m_armed.store(true, std::memory_order_release);
}

SwitchOutcome Measurement::onBufferSwitch(ASIOLong doubleBufferIndex) {
    if (!m_armed.load(std::memory_order_acquire)) {
        return SwitchOutcome::Unarmed;
    }
    const std::int32_t index = m_switchCount.load(std::memory_order_relaxed);
    const int half = doubleBufferIndex == 0 ? 0 : 1;
    const SwitchVerdict verdict = m_method->onSwitch(
        m_stream, half, index, thresholdForSensitivity(sensitivity()), sampleRate());
    if (m_recordingOn) {
        record(half, index);
    }
    if (verdict.kind == SwitchVerdict::Continue) {
        m_switchCount.store(index + 1, std::memory_order_relaxed);
        return SwitchOutcome::Running;
    }
    // The measurement's state is final before the flag says so: an owner that re-arms as soon
    // as it sees the flag clear must find nothing of this switch left to be written.
    m_timedOut = verdict.kind == SwitchVerdict::TimedOut;
    m_endedWholeSamples = m_timedOut ? 0 : verdict.wholeSamples;
    m_switchCount.store(m_timedOut ? 0 : index + 1, std::memory_order_relaxed);
    m_armed.store(false, std::memory_order_release);
    return SwitchOutcome::Ended;
}

MeasurementResult Measurement::result() const {
    MeasurementResult result;
    result.method = m_method->kind();
    result.sampleRate = sampleRate();
    result.bufferSize = m_stream.frames;
    result.sensitivity = sensitivity();
    result.reportedInputLatency = m_stream.reportedInputLatency;
    result.reportedOutputLatency = m_stream.reportedOutputLatency;
    if (!m_timedOut) {
        m_method->describe(result, m_recording);
    }
    return result;
}

void Measurement::prepareRecording() {
    m_recordingOn = m_recordWanted || m_method->needsRecording();
    m_recording.sampleRate = sampleRate();
    m_recording.bufferSize = m_stream.frames;
    m_recording.length = 0;
    std::size_t capacity = 0;
    if (m_recordingOn) {
        const double limit = std::min<double>(
            static_cast<double>(m_method->switchLimit(m_stream, sampleRate())) * m_stream.frames,
            kMaxRecordingSeconds * std::max(sampleRate(), 1.0));
        capacity = static_cast<std::size_t>(std::max(limit, 0.0));
    }
    m_recording.outputs.assign(m_recordingOn ? static_cast<std::size_t>(m_stream.numOutputs) : 0,
                               std::vector<float>(capacity));
    m_recording.inputs.assign(m_recordingOn ? static_cast<std::size_t>(m_stream.numInputs) : 0,
                              std::vector<float>(capacity));
}

void Measurement::record(int half, std::int32_t index) {
    const auto start = static_cast<std::size_t>(index) * static_cast<std::size_t>(m_stream.frames);
    const std::size_t capacity = m_recording.inputs.empty() ? 0 : m_recording.inputs.front().size();
    if (start >= capacity) {
        return;
    }
    const std::size_t count = std::min(static_cast<std::size_t>(m_stream.frames), capacity - start);
    const auto copy = [&](std::vector<float>& into, const void* from) {
        for (std::size_t j = 0; j < count; ++j) {
            into[start + j] =
                static_cast<float>(readNormalised(from, static_cast<int>(j), m_stream.layout));
        }
    };
    for (std::int32_t k = 0; k < m_stream.numOutputs; ++k) {
        copy(m_recording.outputs[static_cast<std::size_t>(k)], m_stream.output(k, half));
    }
    for (std::int32_t i = 0; i < m_stream.numInputs; ++i) {
        copy(m_recording.inputs[static_cast<std::size_t>(i)], m_stream.input(i, half));
    }
    m_recording.length = start + count;
}
