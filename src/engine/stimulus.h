#pragma once
// The correlation method's test signal, made when a measurement is armed and played sample by
// sample from the buffer-switch callback.
//
// It is a linear sweep between 1 % and 42 % of the sample rate, 0.1 s long, with raised-cosine
// fades over its first and last fifth, peaking at the pulse's level (half of full scale).
// Why a sweep and not a maximum-length sequence:
// - All of its energy lies below the ~0.45 fs edge of converter filters, so they pass it
//   untouched: no overshoot, a predictable level, and a correlation band-limited enough to be
//   interpolated between samples without bias. A white sequence loses its top to those filters
//   and overshoots; band-limiting it raises its crest factor to ~10 dB.
// - Its crest factor is 3 dB, so at the same peak it carries more energy than a band-limited
//   sequence: more gain against noise for the same safety from clipping. A loop that passes the
//   pulse unclipped passes the sweep unclipped.
// - Its linear frequency law gives a flat spectrum, hence the sharpest peak for its band. The
//   fades taper the spectrum's edges, so the autocorrelation falls 60 dB within
//   kStimulusMainLobe samples and stays there: a second path 30 dB down stands out clearly. A
//   sequence played once has pseudo-random sidelobes at every lag, only ~1/sqrt(length) down.
// - Starting at 1 % of the rate keeps DC offsets, mains hum and coupling capacitors out of
//   the correlation; inverted polarity simply makes the peak negative.
// - 0.1 s is 4410 to 19200 samples at 44.1 to 192 kHz: ample gain (a -60 dB loop under
//   -80 dBFS noise still correlates over 40 dB above the noise) and a short capture.
//
// The sweep rises or falls. A falling sweep is the rising one played backwards: the same band,
// crest factor and autocorrelation, hence the same sidelobes and the same exactness between
// samples, but its correlation with the rising one is smeared over twice the sweep's length and
// stays more than 30 dB below either's own peak. Consecutive runs alternate, so that the echo
// of the run before, still coming back on a long loop, is not taken for this run's loop.

#include <cstddef>
#include <vector>

enum class SweepDirection { Rising, Falling };

// Beyond kStimulusMainLobe samples from its peak, the stimulus's autocorrelation stays
// kStimulusSidelobeDb below the peak at every rate: correlation found further away is another
// path or noise.
inline constexpr std::size_t kStimulusMainLobe = 48;
inline constexpr double kStimulusSidelobeDb = -60;
// The lags on either side of the peak over which the autocorrelation is kept.
inline constexpr std::size_t kStimulusShapeLags = 128;

struct Stimulus {
    std::vector<float> samples; // full-scale-normalised: +-1 is full scale
    // The autocorrelation over its peak, from lag -kStimulusShapeLags to kStimulusShapeLags:
    // the shape every path's correlation peak takes.
    std::vector<double> shape;
};

// The rates a stimulus can be made for, in Hz.
inline constexpr double kLowestStimulusRate = 8000;
inline constexpr double kHighestStimulusRate = 768000;

// No samples when the rate is not between kLowestStimulusRate and kHighestStimulusRate, or when
// memory is short.
Stimulus makeStimulus(double sampleRate,
                      SweepDirection direction = SweepDirection::Rising) noexcept;
