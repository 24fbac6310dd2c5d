#pragma once
// The dialog's method: a pulse exactly one buffer long at half scale on every output, found as
// the first input sample strictly above the sensitivity's threshold, within one second's worth of
// samples. The latency is the armed switch that handed the crossing over times the buffer size,
// plus its position in that half.

#include "engine/detection_method.h"

class ThresholdMethod final : public DetectionMethod {
public:
    MethodKind kind() const override { return MethodKind::Threshold; }
    void prepare(const StreamSnapshot& stream, double sampleRate) override;
    SwitchVerdict onSwitch(const StreamSnapshot& stream, int half, std::int32_t index,
                           std::int32_t threshold32, double sampleRate) override;
    std::int64_t switchLimit(const StreamSnapshot& stream, double sampleRate) const override;
    void describe(MeasurementResult& result, const Recording& recording) const override;

private:
    ThresholdFindings m_found{};
    std::int32_t m_frames = 0;
};
