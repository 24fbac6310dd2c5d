#pragma once
// The correlation method's test signal, made when a measurement is armed and played sample by
// sample from the buffer-switch callback.
//
// It is a linear sweep from 1 % to 42 % of the sample rate, 0.1 s long, with raised-cosine
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

#include <cstddef>
#include <vector>

struct Stimulus {
    std::vector<float> samples; // full-scale-normalised: +-1 is full scale
};

// Beyond this many samples from its peak, the stimulus's autocorrelation stays at least 60 dB
// below the peak at every rate: correlation found further away is another path or noise.
inline constexpr std::size_t kStimulusMainLobe = 48;

// No samples when the rate is not between 8 and 768 kHz, or when memory is short.
Stimulus makeStimulus(double sampleRate) noexcept;
