#include "engine/correlation.h"

#include <kissfft.hh>

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <initializer_list>
#include <new>
#include <numbers>
#include <vector>

namespace {

// Single precision for the transforms: their rounding stays far below any converter's noise,
// even beside a loud input sharing the transform, and it halves the memory the analysis
// touches, which is much of its time. Sums over many samples stay in double.
using Complex = std::complex<float>;
using Lag = std::ptrdiff_t;

// Samples from here up count as clipped: some converters saturate a little below full scale.
constexpr double kNearFullScale = 0.99;
// Half the taps of the windowed sinc that reads the correlation between lags; with 32 it is
// flat well past the stimulus's top.
constexpr Lag kInterpolationHalfWidth = 32;
// How far the peak search may wander from the strongest lag, plus the taps it reads there.
constexpr Lag kLagsReadAround = kInterpolationHalfWidth + 1;
constexpr auto kMainLobe = static_cast<Lag>(kStimulusMainLobe);

double decibels(double powerRatio) {
    return 10.0 * std::log10(powerRatio);
}

double square(float sample) {
    return double{sample} * double{sample};
}

// Cross-correlations of two inputs at once with the stimulus, by overlap-save over blocks of a
// power of two at least twice the stimulus: one small transform, kind to the cache, serves any
// length of recording. The first input rides as the real part, the second as the imaginary
// part, and their correlations come back the same way.
class PairCorrelator {
public:
    PairCorrelator(std::span<const float> stimulus, Lag firstLag, Lag lastLag)
        : m_stimulusLength(static_cast<Lag>(stimulus.size()))
        , m_blockSize(std::bit_ceil(2 * stimulus.size()))
        , m_fft(m_blockSize, false)
        , m_stimulusSpectrum(m_blockSize)
        , m_block(m_blockSize)
        , m_spectrum(m_blockSize)
        , m_firstLag(firstLag)
        , m_lags(static_cast<std::size_t>(lastLag - firstLag + 1)) {
        std::copy(stimulus.begin(), stimulus.end(), m_block.begin());
        m_fft.transform(m_block.data(), m_stimulusSpectrum.data());
    }

    // The correlations of `a` (real parts) and `b` (imaginary parts) for every lag from the first;
    // an empty `b` correlates as silence.
    const std::vector<Complex>& correlate(std::span<const float> a, std::span<const float> b) {
        const Lag fresh = static_cast<Lag>(m_blockSize) - m_stimulusLength + 1;
        const Lag lagCount = static_cast<Lag>(m_lags.size());
        const float scale = 1.0f / static_cast<float>(m_blockSize);
        for (Lag done = 0; done < lagCount; done += fresh) {
            const Lag start = m_firstLag + done;
            std::fill(m_block.begin(), m_block.end(), Complex{});
            load(a, start, [](Complex& to, float v) { to.real(v); });
            load(b, start, [](Complex& to, float v) { to.imag(v); });
            m_fft.transform(m_block.data(), m_spectrum.data());
            // The inverse transform as a forward one of the conjugate: one plan serves both.
            for (std::size_t k = 0; k < m_blockSize; ++k) {
                m_block[k] = m_stimulusSpectrum[k] * std::conj(m_spectrum[k]);
            }
            m_fft.transform(m_block.data(), m_spectrum.data());
            const Lag valid = std::min(fresh, lagCount - done);
            for (Lag j = 0; j < valid; ++j) {
                m_lags[static_cast<std::size_t>(done + j)] =
                    scale * std::conj(m_spectrum[static_cast<std::size_t>(j)]);
            }
        }
        return m_lags;
    }

private:
    // The block from recording index `start` on, zero outside the recording.
    template <class Store>
    void load(std::span<const float> input, Lag start, Store store) {
        const Lag from = std::max<Lag>(start, 0);
        const Lag to =
            std::min(start + static_cast<Lag>(m_blockSize), static_cast<Lag>(input.size()));
        for (Lag i = from; i < to; ++i) {
            store(m_block[static_cast<std::size_t>(i - start)], input[static_cast<std::size_t>(i)]);
        }
    }

    Lag m_stimulusLength;
    std::size_t m_blockSize;
    kissfft<float> m_fft;
    std::vector<Complex> m_stimulusSpectrum;
    std::vector<Complex> m_block;
    std::vector<Complex> m_spectrum;
    Lag m_firstLag;
    std::vector<Complex> m_lags;
};

// One input's cross-correlation with the stimulus: the real or the imaginary parts of a pair's.
class Correlation {
public:
    Correlation(const std::vector<Complex>& lags, Lag firstLag, bool imaginary)
        : m_lags(lags)
        , m_firstLag(firstLag)
        , m_imaginary(imaginary) {}

    double at(Lag lag) const {
        const Complex& both = m_lags[static_cast<std::size_t>(lag - m_firstLag)];
        return m_imaginary ? both.imag() : both.real();
    }

    // Band-limited value between lags: the stimulus has no energy near the Nyquist frequency,
    // so a Blackman-windowed sinc reconstructs the correlation without bias.
    double interpolate(double lag) const {
        const auto base = static_cast<Lag>(std::floor(lag));
        double sum = 0;
        for (Lag k = base - kInterpolationHalfWidth + 1; k <= base + kInterpolationHalfWidth; ++k) {
            const double x = lag - static_cast<double>(k);
            const double u = (x / static_cast<double>(kInterpolationHalfWidth) + 1.0) / 2.0;
            const double window = 0.42 - 0.5 * std::cos(2.0 * std::numbers::pi * u) +
                                  0.08 * std::cos(4.0 * std::numbers::pi * u);
            const double sinc =
                x == 0.0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
            sum += at(k) * sinc * window;
        }
        return sum;
    }

    // The strongest lag in [first, last] beyond the main lobe of each lag in `avoid`; none when
    // the main lobes cover the range.
    std::optional<Lag> strongest(Lag first, Lag last, std::initializer_list<Lag> avoid) const {
        std::vector<Lag> sorted(avoid);
        std::sort(sorted.begin(), sorted.end());
        std::optional<Lag> best;
        double bestMagnitude = -1;
        const auto scan = [&](Lag from, Lag to) {
            for (Lag k = from; k <= to; ++k) {
                const double magnitude = std::abs(at(k));
                if (magnitude > bestMagnitude) {
                    bestMagnitude = magnitude;
                    best = k;
                }
            }
        };
        Lag from = first;
        for (Lag a : sorted) {
            scan(from, std::min(last, a - kMainLobe - 1));
            from = std::max(from, a + kMainLobe + 1);
        }
        scan(from, last);
        return best;
    }

    struct Peak {
        double lag;
        double value; // signed
    };

    // The peak near an integer lag, to a ten-thousandth of a sample: a bracket that halves
    // around the largest magnitude, which the main lobe makes unimodal within a sample.
    Peak refine(Lag near) const {
        Peak best{static_cast<double>(near), interpolate(static_cast<double>(near))};
        for (double step = 0.5; step > 1e-4; step /= 2.0) {
            const double centre = best.lag;
            for (double lag : {centre - step, centre + step}) {
                const double value = interpolate(lag);
                if (std::abs(value) > std::abs(best.value)) {
                    best = {lag, value};
                }
            }
        }
        return best;
    }

private:
    const std::vector<Complex>& m_lags;
    Lag m_firstLag;
    bool m_imaginary;
};

struct StimulusFigures {
    double energy = 0;
    double meanPower = 0;
};

// Everything one input tells, judged alone.
CorrelationFindings judgeInput(const Correlation& correlation, std::span<const float> samples,
                               std::size_t stimulusLength, const StimulusFigures& stimulus,
                               std::size_t quietLead) {
    CorrelationFindings findings;
    double leadPower = 0;
    for (float s : samples.first(quietLead)) {
        leadPower += square(s);
    }
    leadPower /= static_cast<double>(quietLead);
    findings.noiseFloorDbfs = decibels(leadPower);
    findings.clipped = std::any_of(samples.begin(), samples.end(),
                                   [](float s) { return std::abs(s) >= kNearFullScale; });

    const auto first = static_cast<Lag>(quietLead);
    const auto last = static_cast<Lag>(samples.size() - stimulusLength);
    const Lag mainLag = *correlation.strongest(first, last, {});
    const Lag nextLag = *correlation.strongest(first, last, {mainLag});
    const Correlation::Peak main = correlation.refine(mainLag);
    // Digital silence correlates to nothing at all: no confidence rather than 0 / 0.
    findings.confidence =
        main.value == 0.0 ? 0.0 : std::abs(main.value) / std::abs(correlation.at(nextLag));

    const Lag windowStart = std::clamp<Lag>(std::lround(main.lag), first, last);
    double windowEnergy = 0;
    for (float s : samples.subspan(static_cast<std::size_t>(windowStart), stimulusLength)) {
        windowEnergy += square(s);
    }
    const double normaliser = std::sqrt(stimulus.energy * windowEnergy);
    // Interpolation can lift the peak a hair above what the integer window allows.
    findings.correlation =
        normaliser == 0.0 ? 0.0 : std::min(1.0, std::abs(main.value) / normaliser);

    findings.loopFound = findings.confidence >= kMinimumConfidence;
    if (!findings.loopFound) {
        findings.floatingInput = findings.noiseFloorDbfs >= kFloatingInputDbfs;
        return findings;
    }
    findings.delaySamples = main.lag;
    findings.polarity = main.value < 0 ? -1 : 1;
    const double gain = std::abs(main.value) / stimulus.energy;
    findings.levelDb = 2.0 * decibels(gain);
    findings.snrDb = decibels(gain * gain * stimulus.meanPower / leadPower);

    const auto restLag = correlation.strongest(first, last, {mainLag, nextLag});
    if (restLag && std::abs(correlation.at(nextLag)) >=
                       kMinimumConfidence * std::abs(correlation.at(*restLag))) {
        const Correlation::Peak ghost = correlation.refine(nextLag);
        findings.ghost = GhostPath{ghost.lag, 2.0 * decibels(std::abs(ghost.value / main.value))};
    }
    return findings;
}

// Loops first, the strongest of them; with none, the loudest input.
bool describesBetter(const CorrelationFindings& a, const CorrelationFindings& b) {
    if (a.loopFound != b.loopFound) {
        return a.loopFound;
    }
    return a.loopFound ? a.levelDb > b.levelDb : a.noiseFloorDbfs > b.noiseFloorDbfs;
}

AnalysisError checkInputs(const Stimulus& stimulus, std::span<const std::span<const float>> inputs,
                          std::size_t quietLead) {
    if (stimulus.samples.empty()) {
        return AnalysisError::NoStimulus;
    }
    if (inputs.empty()) {
        return AnalysisError::NoInputs;
    }
    if (quietLead == 0) {
        return AnalysisError::NoQuietLead;
    }
    const std::size_t stimulusLength = stimulus.samples.size();
    for (std::span<const float> input : inputs) {
        if (input.size() < stimulusLength || input.size() - stimulusLength < quietLead ||
            input.size() - stimulusLength - quietLead < kMinimumSearchLags) {
            return AnalysisError::RecordingTooShort;
        }
        if (!std::all_of(input.begin(), input.end(), [](float s) { return std::isfinite(s); })) {
            return AnalysisError::NotFinite;
        }
    }
    return AnalysisError::None;
}

CorrelationFindings analyseChecked(std::span<const float> stimulus,
                                   std::span<const std::span<const float>> inputs,
                                   std::size_t quietLead) {
    StimulusFigures figures;
    for (float s : stimulus) {
        figures.energy += square(s);
    }
    figures.meanPower = figures.energy / static_cast<double>(stimulus.size());

    std::size_t longest = 0;
    for (std::span<const float> input : inputs) {
        longest = std::max(longest, input.size());
    }
    const Lag firstLag = static_cast<Lag>(quietLead) - kLagsReadAround;
    const Lag lastLag = static_cast<Lag>(longest - stimulus.size()) + kLagsReadAround;
    PairCorrelator correlator(stimulus, firstLag, lastLag);

    CorrelationFindings best;
    for (std::size_t pair = 0; pair < inputs.size(); pair += 2) {
        const bool both = pair + 1 < inputs.size();
        const std::vector<Complex>& lags =
            correlator.correlate(inputs[pair], both ? inputs[pair + 1] : std::span<const float>{});
        for (std::size_t index = pair; index < (both ? pair + 2 : pair + 1); ++index) {
            const Correlation correlation(lags, firstLag, index != pair);
            CorrelationFindings candidate =
                judgeInput(correlation, inputs[index], stimulus.size(), figures, quietLead);
            candidate.input = static_cast<int>(index);
            if (index == 0 || describesBetter(candidate, best)) {
                best = candidate;
            }
        }
    }
    return best;
}

} // namespace

bool CorrelationFindings::has(Diagnosis diagnosis) const {
    switch (diagnosis) {
    case Diagnosis::NoLoop:
        return !loopFound;
    case Diagnosis::InvertedPolarity:
        return polarity < 0;
    case Diagnosis::Ghost:
        return ghost.has_value();
    case Diagnosis::FloatingInput:
        return floatingInput;
    case Diagnosis::Clipping:
        return clipped;
    }
    return false;
}

CorrelationFindings analyseRecording(const Stimulus& stimulus,
                                     std::span<const std::span<const float>> inputs,
                                     std::size_t quietLead) noexcept {
    CorrelationFindings findings;
    findings.error = checkInputs(stimulus, inputs, quietLead);
    if (findings.error != AnalysisError::None) {
        return findings;
    }
    try {
        return analyseChecked(stimulus.samples, inputs, quietLead);
    } catch (const std::bad_alloc&) {
        findings.error = AnalysisError::OutOfMemory;
        return findings;
    }
}
