#pragma once
// The correlation method: a band-limited sweep (engine/stimulus.h) played on every output after a
// short silence, the inputs recorded by the measurement, and the recording cross-correlated off
// the driver's thread. It reports the alignment delay (where the stimulus is centred at the
// input, between samples), the polarity, a confidence and what else the recording shows; with
// too little confidence, no number at all.

#include "engine/detection_method.h"
#include "engine/stimulus.h"

class CorrelationMethod final : public DetectionMethod {
public:
    MethodKind kind() const override { return MethodKind::Correlation; }
    void prepare(const StreamSnapshot& stream, double sampleRate) override;
    SwitchVerdict onSwitch(const StreamSnapshot& stream, int half, std::int32_t index,
                           std::int32_t threshold32, double sampleRate) override;
    // Once prepared: the silence and the sweep, then room for a round trip of one second.
    std::int64_t switchLimit(const StreamSnapshot& stream, double sampleRate) const override;
    bool needsRecording() const override { return true; }
    void describe(MeasurementResult& result, const Recording& recording) const override;

private:
    // What the outputs play from switch 0 on: m_silence samples of silence for the noise floor,
    // then the sweep.
    Stimulus m_sweep;
    std::size_t m_silence = 0;
    std::size_t m_quietLead = 0;
    std::int64_t m_switches = 0;
};
