#pragma once
// Finds the loop in a recording of the stimulus, and judges whether the recording vouches for
// it: the cross-correlation of every input with the stimulus, every path it shows with its
// delay between samples, and what is left of the recording once those paths are taken out. Pure
// computation, run off the driver's thread; it allocates.
//
// The verdict:
// - No result when nothing stands out of the noise, or when the strongest arrival lies beyond
//   the longest round trip searched (or would, from what the end of the recording holds).
// - Doubtful when a second path comes within kAmbiguityDb of the strongest: from the signal
//   alone nothing tells which of them is the cable, so neither is vouched for.
// - Doubtful when the paths found do not explain the returned signal: the recording, less the
//   stimulus at each path's delay, level and polarity, is measured in blocks as long as the
//   quiet lead; a block whose rest stands out of the noise floor (by kNoiseMarginDb) and out of
//   what modelling the paths leaves (kModelErrorDb under the loop's own level nearby) holds
//   something else: a dropout or a latency that changed during the sweep (part of the stimulus
//   comes back shifted), a foreign signal, a second client playing into the loop, a distorted
//   (clipping) path, or the head of a path longer than the recording covers.
// - Doubtful when the recording ends before it has watched every round trip up to the longest
//   searched, or, for an early end, up to the guard past the loop: see AnalysisWindow.
// - Verified otherwise.

#include "engine/stimulus.h"
#include "engine/verdict.h"

#include <cstddef>
#include <limits>
#include <optional>
#include <span>
#include <vector>

enum class AnalysisError {
    None,
    NoStimulus,
    NoInputs,
    NoQuietLead,       // the noise floor needs at least one sample before any arrival
    RecordingTooShort, // an input cannot hold the quiet lead, kMinimumSearchLags and the stimulus
    NotFinite,         // an input holds NaN or infinity
    OutOfMemory,
};

// Where the stimulus lies in a recording and which round trips are searched, in samples. The
// recording before stimulusStart + shortestDelay is quiet: it gives the noise floor.
//
// What a recording of N samples covers: a path of delay D shows whole once N >= stimulusStart +
// D + the stimulus's length (and the taps the interpolation reads); only its head shows before.
// A path the recording has not reached at all cannot be seen, so nothing can say that no
// stronger path arrives later but within longestDelay, unless the recording has watched every
// delay up to longestDelay for long enough that such a path would have left its head in it.
// That is the recording's cover: every delay D for which N >= stimulusStart + D + the head a
// path within kAmbiguityDb of the loop needs to stand out of the residual. A result is verified
// only once the cover reaches longestDelay; a shorter recording (a prefix read while recording
// goes on) is doubtful at best. So the recording a verified result needs is set by the longest
// round trip searched, not by the loop: stimulusStart + longestDelay + that head, the head
// being a fraction of the stimulus on loops well above the noise and its whole length on
// loops near it. Beyond the recording nothing can be seen at all: a loop longer than it holds,
// beside a weaker path within longestDelay, leaves that path to be taken for the loop, so
// longestDelay must exceed every loop there can be.
//
// An early end. A recording may end before its cover reaches longestDelay when a later path
// could change nothing a full recording verifies: once every input has found its loop, each loop
// so strong that a path kAmbiguityDb above it would clip (6 dB past full scale; a clipped path
// leaves a residual, so a full recording would verify no other number), and the cover reaches
// earlyEndGuard past the loop (so that a second path that close, the usual mixer, loopback or
// second client's path, is seen and judged). A path arriving later than that, at most kAmbiguityDb
// stronger than the loop, goes unseen: a full recording would call the loop ambiguous, an early
// end verifies it. Quieter loops, and inputs where nothing has come back yet, are recorded up to
// longestDelay.
struct AnalysisWindow {
    std::size_t stimulusStart = 0; // the recording index of the stimulus's first sample
    std::size_t shortestDelay = 1; // at least 1
    std::size_t longestDelay = 0;  // the maximum latency; longer loops are not measured
    std::size_t earlyEndGuard = 0; // past the loop, in samples; 0: no early end
};

// One way from the outputs to the input.
struct SignalPath {
    double delaySamples = 0; // the round trip, from stimulusStart
    double levelDb = 0;      // gain relative to the stimulus
    int polarity = 1;        // +1 or -1
};

// A second path, relative to the loop, e.g. an internal mixer or loopback channel.
struct GhostPath {
    double delaySamples = 0;
    double levelDb = 0; // relative to the main path
};

// A path must stand this many times above every other correlation peak to count. Noise alone
// seldom gets its largest peak half again above its next; twice would take an outlier far beyond
// the largest of the hundreds of thousands of Gaussian values a long recording gives.
inline constexpr double kMinimumConfidence = 2.0;

// A second path within this many dB of the strongest makes the loop ambiguous.
inline constexpr double kAmbiguityDb = 20.0;
// What the residual may hold, per block: the noise floor's own spread (the quiet lead is one
// block, so both are estimates of the same precision), and what modelling a path as a delayed,
// scaled copy leaves: a converter's band edge or ripple, the interpolation between samples.
inline constexpr double kNoiseMarginDb = 3.0;
inline constexpr double kModelErrorDb = 30.0;

// Delays searched after the quiet lead, at the least: room for noise's own peaks beyond the main
// lobe, so that noise cannot pass for a loop in a short recording.
inline constexpr std::size_t kMinimumSearchLags = 4 * kStimulusMainLobe;

enum class Diagnosis {
    NoLoop,           // confidence under kMinimumConfidence: no delay is given
    InvertedPolarity, // the loop inverts the signal (polarity -1)
    Ghost,            // a second path: see ghost and paths
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
    // The strongest path over the highest correlation left once every path found is taken out.
    double confidence = 0;
    double correlation = 0;      // normalised correlation coefficient at the peak, 0 to 1
    double snrDb = kNotMeasured; // recorded stimulus over the noise floor; NaN unless loopFound
    double noiseFloorDbfs = kNotMeasured; // over the quiet lead; -infinity for digital silence
    // The loop's gain: the recorded level relative to the stimulus; NaN unless loopFound.
    double levelDb = kNotMeasured;
    // Every path standing out of the noise floor and of the stimulus's own sidelobes, strongest
    // first: paths[0] is the loop. Empty unless loopFound.
    std::vector<SignalPath> paths;
    std::optional<GhostPath> ghost; // paths[1], relative to the loop
    bool floatingInput = false;
    bool clipped = false;

    bool has(Diagnosis diagnosis) const;
};

struct CorrelationAnalysis {
    CorrelationFindings findings;
    ResultVerdict verdict;
};

// The samples a recording needs for every round trip of `window` to show whole.
std::size_t recordingNeeded(const AnalysisWindow& window, std::size_t stimulusLength);

// `inputs` holds each input's recording (full-scale-normalised). Never throws.
CorrelationAnalysis analyseRecording(const Stimulus& stimulus,
                                     std::span<const std::span<const float>> inputs,
                                     const AnalysisWindow& window) noexcept;

// Whether, on some input, the strongest correlation with the stimulus lies past the lags the
// recording holds whole: something is still arriving, so a recording that goes on growing cannot
// be verified yet. Costs the correlation alone, none of the analysis. False for inputs that
// analyseRecording would refuse.
bool strongestStillArriving(const Stimulus& stimulus,
                            std::span<const std::span<const float>> inputs,
                            const AnalysisWindow& window) noexcept;
