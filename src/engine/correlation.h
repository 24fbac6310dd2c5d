#pragma once
// Finds the loop in a recording of the stimulus: the cross-correlation of every input with the
// stimulus, its peak between samples, and what else the recording tells about the loop. Pure
// computation, run off the driver's thread once the capture is complete; it allocates.
//
// Time origin: recording index 0 is the instant stimulus index 0 was handed to the driver, so a
// loop of delay D shows the stimulus starting at recording index D. Delays are in samples.

#include "engine/stimulus.h"

#include <cstddef>
#include <limits>
#include <optional>
#include <span>

enum class AnalysisError {
    None,
    NoStimulus,
    NoInputs,
    NoQuietLead,       // the noise floor needs at least one sample before any arrival
    RecordingTooShort, // an input cannot hold the quiet lead, kMinimumSearchLags and the stimulus
    NotFinite,         // an input holds NaN or infinity
    OutOfMemory,
};

// A second way from the output to the input, e.g. an internal mixer or loopback channel.
struct GhostPath {
    double delaySamples = 0;
    double levelDb = 0; // relative to the main path
};

// A path must stand this many times above every other correlation peak to count. Noise alone
// seldom gets its largest peak half again above its next; twice would take an outlier far beyond
// the largest of the hundreds of thousands of Gaussian values a long recording gives.
inline constexpr double kMinimumConfidence = 2.0;

// Delays searched after the quiet lead, at the least: room for noise's own peaks beyond the main
// lobe, so that noise cannot pass for a loop in a short recording.
inline constexpr std::size_t kMinimumSearchLags = 4 * kStimulusMainLobe;

enum class Diagnosis {
    NoLoop,           // confidence under kMinimumConfidence: no delay is given
    InvertedPolarity, // the loop inverts the signal (polarity -1)
    Ghost,            // a second path: see ghost
    FloatingInput,    // no loop, and noise above kFloatingInputDbfs: nothing plugged in
    Clipping,         // the input reached full scale (or near it): level and delay may be off
};

// Noise floors from here up, on an input that carries no loop, mean nothing is plugged in.
inline constexpr double kFloatingInputDbfs = -50.0;

inline constexpr double kNotMeasured = std::numeric_limits<double>::quiet_NaN();

// Levels are RMS in dB relative to full scale (+-1), or gains in dB relative to the stimulus.
struct CorrelationFindings {
    AnalysisError error = AnalysisError::None; // anything else: nothing below was measured
    int input = -1;                            // the loop's input; with no loop, the loudest input
    bool loopFound = false;
    double delaySamples = kNotMeasured; // NaN unless loopFound
    int polarity = 0;                   // +1 or -1; 0 unless loopFound
    double confidence = 0;       // main peak over the highest correlation beyond its main lobe
    double correlation = 0;      // normalised correlation coefficient at the peak, 0 to 1
    double snrDb = kNotMeasured; // recorded stimulus over the noise floor; NaN unless loopFound
    double noiseFloorDbfs = kNotMeasured; // over the quiet lead; -infinity for digital silence
    // The loop's gain: the recorded level relative to the stimulus; NaN unless loopFound.
    double levelDb = kNotMeasured;
    std::optional<GhostPath> ghost;
    bool floatingInput = false;
    bool clipped = false;

    bool has(Diagnosis diagnosis) const;
};

// `inputs` holds each input's recording (full-scale-normalised); the first `quietLead` samples
// of each are known to precede any possible arrival. Each recording must hold the whole
// stimulus after the longest delay to be found. Never throws.
CorrelationFindings analyseRecording(const Stimulus& stimulus,
                                     std::span<const std::span<const float>> inputs,
                                     std::size_t quietLead) noexcept;
