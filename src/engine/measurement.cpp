#include "engine/measurement.h"

#include "engine/sensitivity.h"

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
        m_method->describe(result);
    }
    return result;
}
