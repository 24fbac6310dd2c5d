#pragma once
// The correlation method: a band-limited sweep (engine/stimulus.h) played on every output after a
// short silence, the inputs recorded by the measurement, and the recording cross-correlated off
// the driver's thread (engine/correlation.h). It reports the alignment delay (where the stimulus
// is centred at the input, between samples), the polarity, a confidence, every path the
// recording shows, and a verdict: with too little confidence, no number at all.
//
// Each preparation plays the sweep the other way round from the one before, so that the echo
// of the previous run on a loop longer than a run is not taken for this run's loop.
//
// The loops looked for are those up to a maximum latency; the recording is sized to hold every
// one of them whole. An owner that watches the recording grow may stop it as soon as complete()
// says that the rest could change nothing a full recording verifies: for a loop well above the
// noise, once the whole sweep has come back and kEarlyEndGuardSeconds more (correlation.h,
// AnalysisWindow, says what that takes).

#include "engine/correlation.h"
#include "engine/detection_method.h"
#include "engine/stimulus.h"

#include <optional>

// The longest round trip looked for unless told otherwise: longer than any interface's, even at
// its largest buffer size, and the threshold method's time limit.
inline constexpr double kDefaultMaxLatencySeconds = 1.0;
inline constexpr double kLongestMaxLatencySeconds = 10.0;
// How far past the loop a recording that ends early must have watched for a second path.
inline constexpr double kEarlyEndGuardSeconds = 0.05;

class CorrelationMethod final : public DetectionMethod {
public:
    // `maxLatencySeconds` outside (0, kLongestMaxLatencySeconds] means the default.
    explicit CorrelationMethod(double maxLatencySeconds = kDefaultMaxLatencySeconds);

    MethodKind kind() const override { return MethodKind::Correlation; }
    // Refuses, with the verdict's reason, a rate no stimulus is made for and a buffer size that
    // is not positive or longer than the maximum latency; it then sizes no recording.
    void prepare(const StreamSnapshot& stream, double sampleRate) override;
    SwitchVerdict onSwitch(const StreamSnapshot& stream, int half, std::int32_t index,
                           std::int32_t threshold32, double sampleRate) override;
    // Once prepared: the silence, then every round trip up to the maximum latency with the
    // whole sweep after it. 0 when refused: the first switch ends the run, recording nothing.
    std::int64_t switchLimit(const StreamSnapshot& stream, double sampleRate) const override;
    bool needsRecording() const override { return true; }
    bool judgesEveryInput() const override { return true; }
    void describe(MeasurementResult& result, const Recording& recording) const override;

    // Verified on what is recorded so far: the loop found and judged, and the recording gone on
    // long enough past it (AnalysisWindow: an early end).
    bool complete(const Recording& recording, std::size_t recorded) const override;

    // What the last preparation made: the stimulus played and where it lies in the recording.
    const Stimulus& stimulus() const { return m_sweep; }
    const AnalysisWindow& window() const { return m_window; }

private:
    double m_maxLatencySeconds;
    SweepDirection m_direction = SweepDirection::Falling; // the last run's
    std::optional<VerdictReason> m_refusal;
    // What the outputs play from switch 0 on: m_window.stimulusStart samples of silence for the
    // noise floor, then the sweep.
    Stimulus m_sweep;
    AnalysisWindow m_window;
    std::int64_t m_switches = 0;
};
