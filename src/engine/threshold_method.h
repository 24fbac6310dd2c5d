#pragma once
// The dialog's method: a pulse exactly one buffer long at half scale on every output, found as
// the first input sample strictly above the sensitivity's threshold, within one second's worth of
// samples. The latency is the armed switch that handed the crossing over times the buffer size,
// plus its position in that half. The run goes on until the input has been recorded one buffer
// and a little past the crossing, so that the crossing can be judged (engine/pulse_check.h): what
// is not the pulse gives no result.

#include "engine/detection_method.h"

class ThresholdMethod final : public DetectionMethod {
public:
    MethodKind kind() const override { return MethodKind::Threshold; }
    void prepare(const StreamSnapshot& stream, double sampleRate) override;
    SwitchVerdict onSwitch(const StreamSnapshot& stream, int half, std::int32_t index,
                           std::int32_t threshold32, double sampleRate) override;
    std::int64_t switchLimit(const StreamSnapshot& stream, double sampleRate) const override;
    bool needsRecording() const override { return true; }
    // The pulse is written at switch 0 and its half silenced at switch 2.
    bool canEndAfter(std::int32_t index) const override { return index >= 2; }
    void describe(MeasurementResult& result, const Recording& recording) const override;

private:
    std::int64_t onset() const {
        return std::int64_t{m_found.switchIndex} * m_frames + m_found.position;
    }

    ThresholdFindings m_found{};
    bool m_crossed = false;
    std::int32_t m_threshold32 = 0; // in force at the crossing
    bool m_timedOutBeforeClearing = false;
    std::int32_t m_frames = 0;
    std::int64_t m_listened = 0; // samples scanned for the crossing: one second's worth
};
