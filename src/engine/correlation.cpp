#include "engine/correlation.h"

#include <kissfft.hh>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <new>
#include <numbers>
#include <optional>
#include <vector>

namespace {

// Single precision for the transforms: their rounding stays far below any converter's noise,
// even beside a loud input sharing the transform, and it halves the memory the analysis
// touches, which is much of its time. Sums over many samples stay in double.
using Complex = std::complex<float>;
using Lag = std::ptrdiff_t;

// Samples from here up count as clipped: some converters saturate a little below full scale.
constexpr double kNearFullScale = 0.99;
// Half the taps of the windowed sinc that reads the correlation and the stimulus between
// samples; with 32 it is flat well past the stimulus's top.
constexpr Lag kInterpolationHalfWidth = 32;
// How far the peak search may wander from the strongest lag, plus the taps it reads there.
constexpr Lag kLagsReadAround = kInterpolationHalfWidth + 1;
constexpr auto kMainLobe = static_cast<Lag>(kStimulusMainLobe);
// A path's model is taken out of the correlation over its main lobe and the taps a neighbour's
// refinement reads; beyond, its sidelobes stay under the path floor.
constexpr Lag kModelReach = kMainLobe + kLagsReadAround;
// More paths than this is not a few ways round a loop but something else (the residual says
// what).
constexpr std::size_t kMaxPaths = 8;
// The correlation of noise stays under this many of its standard deviations at every lag of the
// longest recording (a Gaussian's largest of a million values is about 5).
constexpr double kNoisePeakRatio = 8.0;
// A path may lie within another's main lobe only this far under it, at the least: weaker, it is
// what modelling the stronger one leaves, it moves the stronger one's peak by a small fraction of
// a sample at most, and it leaves less in the residual than kModelErrorDb allows.
constexpr double kNearPathDb = 40.0;
// Paths stand twice above the stimulus's own sidelobes, over the peak.
const double kSidelobeFloor = 2.0 * std::pow(10.0, kStimulusSidelobeDb / 20.0);
// Taken for the noise floor of an input in digital silence: the residual of a digital loop
// measures rounding, not noise.
constexpr double kDigitalSilencePower = 1e-14;
// Passes of re-refining every path with the others taken out: enough for paths inside each
// other's main lobes to settle.
constexpr int kJointPasses = 3;

double decibels(double powerRatio) {
    return 10.0 * std::log10(powerRatio);
}

double fromDecibels(double db) {
    return std::pow(10.0, db / 10.0);
}

double square(double sample) {
    return sample * sample;
}

// Reads a band-limited sequence between its samples, at k + offset for every whole k, with a
// Blackman-windowed sinc: unbiased where the sequence has no energy near the Nyquist frequency.
// The taps depend only on the offset's fraction, so one reader serves a whole run of k.
class Interpolator {
public:
    // The taps are many readers' whole cost, so their sines come from two: the sinc's numerator
    // only changes sign from tap to tap, and the window's phase turns by a fixed step.
    explicit Interpolator(double offset)
        : m_whole(static_cast<Lag>(std::floor(offset))) {
        using std::numbers::pi;
        const double fraction = offset - static_cast<double>(m_whole);
        const auto half = static_cast<double>(kInterpolationHalfWidth);
        const double firstX = fraction + half - 1.0;
        // sin(pi x) at the first tap; the taps' x differ by whole numbers.
        double sinPiX = std::sin(pi * fraction) * ((kInterpolationHalfWidth - 1) % 2 == 0 ? 1 : -1);
        // The window's phase 2 pi u, u = (x / half + 1) / 2, as a unit complex number.
        std::complex<double> phase = std::polar(1.0, pi * (firstX / half + 1.0));
        const std::complex<double> step = std::polar(1.0, -pi / half);
        for (std::size_t i = 0; i < m_taps.size(); ++i) {
            const double x = firstX - static_cast<double>(i);
            const double cos1 = phase.real();
            const double window = 0.42 - 0.5 * cos1 + 0.08 * (2.0 * cos1 * cos1 - 1.0);
            const double sinc = x == 0.0 ? 1.0 : sinPiX / (pi * x);
            m_taps[i] = sinc * window;
            sinPiX = -sinPiX;
            phase *= step;
        }
    }

    // `sequence(k)` gives sample k of the sequence.
    template <class Sequence>
    double operator()(Sequence sequence, Lag k) const {
        const Lag first = k + m_whole - kInterpolationHalfWidth + 1;
        double sum = 0;
        for (std::size_t i = 0; i < m_taps.size(); ++i) {
            sum += m_taps[i] * sequence(first + static_cast<Lag>(i));
        }
        return sum;
    }

private:
    Lag m_whole;
    std::array<double, 2 * kInterpolationHalfWidth> m_taps{};
};

// Cross-correlations of two inputs at once with the stimulus, by overlap-save over blocks of a
// power of two at least twice the stimulus: one small transform, kind to the cache, serves any
// length of recording. The first input rides as the real part, the second as the imaginary
// part, and their correlations come back the same way.
class PairCorrelator {
public:
    explicit PairCorrelator(std::span<const float> stimulus)
        : m_stimulusLength(static_cast<Lag>(stimulus.size()))
        , m_blockSize(std::bit_ceil(2 * stimulus.size()))
        , m_fft(m_blockSize, false)
        , m_stimulusSpectrum(m_blockSize)
        , m_block(m_blockSize)
        , m_spectrum(m_blockSize) {
        std::copy(stimulus.begin(), stimulus.end(), m_block.begin());
        m_fft.transform(m_block.data(), m_stimulusSpectrum.data());
    }

    // The correlations of `a` (real parts) and `b` (imaginary parts) at every lag from `firstLag`
    // to `lastLag`: the sum over n of input[n + lag] * stimulus[n], inputs zero outside their
    // samples. An empty `b` correlates as silence.
    std::vector<Complex>& correlate(std::span<const float> a, std::span<const float> b,
                                    Lag firstLag, Lag lastLag) {
        const Lag fresh = static_cast<Lag>(m_blockSize) - m_stimulusLength + 1;
        const Lag lagCount = lastLag - firstLag + 1;
        const float scale = 1.0f / static_cast<float>(m_blockSize);
        m_lags.resize(static_cast<std::size_t>(lagCount));
        for (Lag done = 0; done < lagCount; done += fresh) {
            const Lag start = firstLag + done;
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
    std::vector<Complex> m_lags;
};

// What the analysis needs to know of the stimulus, beyond its samples.
struct StimulusFigures {
    std::span<const float> samples;
    std::span<const double> shape;
    double energy = 0;
    double meanPower = 0;
    double peak = 0; // the largest magnitude of a sample

    explicit StimulusFigures(const Stimulus& stimulus)
        : samples(stimulus.samples)
        , shape(stimulus.shape) {
        for (float s : samples) {
            energy += square(s);
            peak = std::max(peak, double{std::abs(s)});
        }
        meanPower = energy / static_cast<double>(samples.size());
    }

    // Zero outside what is kept.
    double shapeAt(Lag lag) const {
        const auto reach = static_cast<Lag>(kStimulusShapeLags);
        return std::abs(lag) > reach ? 0.0 : shape[static_cast<std::size_t>(lag + reach)];
    }
    double sample(Lag index) const {
        return index < 0 || index >= static_cast<Lag>(samples.size())
                   ? 0.0
                   : double{samples[static_cast<std::size_t>(index)]};
    }
    // The samples from the stimulus's start that hold `wanted` of its energy; none when the
    // whole holds less.
    std::optional<std::size_t> headHolding(double wanted) const {
        double sum = 0;
        for (std::size_t n = 0; n < samples.size(); ++n) {
            sum += square(samples[n]);
            if (sum >= wanted) {
                return n + 1;
            }
        }
        return std::nullopt;
    }
};

static_assert(kModelReach + kInterpolationHalfWidth <= static_cast<Lag>(kStimulusShapeLags),
              "a path's model reads the stimulus's autocorrelation that far");

struct Peak {
    double lag;   // recording index at which the stimulus starts
    double value; // signed correlation there
};

// One input's cross-correlation with the stimulus, over the lags it was computed for: the real
// or the imaginary parts of a pair's, which paths are taken out of in place.
class Correlation {
public:
    Correlation(std::vector<Complex>& lags, Lag firstLag, bool imaginary)
        : m_lags(lags)
        , m_firstLag(firstLag)
        , m_imaginary(imaginary) {}

    Lag firstLag() const { return m_firstLag; }
    Lag lastLag() const { return m_firstLag + static_cast<Lag>(m_lags.size()) - 1; }
    double at(Lag lag) const {
        const Complex& both = m_lags[static_cast<std::size_t>(lag - m_firstLag)];
        return m_imaginary ? both.imag() : both.real();
    }
    double interpolate(double lag) const {
        return Interpolator(lag)([&](Lag k) { return at(k); }, 0);
    }

    // The strongest lag in [first, last] that `allowed` admits; none if it admits none.
    template <class Allowed>
    std::optional<Lag> strongest(Lag first, Lag last, Allowed allowed) const {
        std::optional<Lag> best;
        double bestMagnitude = -1;
        for (Lag k = std::max(first, m_firstLag); k <= std::min(last, lastLag()); ++k) {
            const double magnitude = std::abs(at(k));
            if (magnitude > bestMagnitude && allowed(k)) {
                bestMagnitude = magnitude;
                best = k;
            }
        }
        return best;
    }

    // The peak near a lag, to a ten-thousandth of a sample: a bracket that halves around the
    // largest magnitude, which the main lobe makes unimodal within a sample.
    Peak refine(double near) const {
        Peak best{near, interpolate(near)};
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

    // Whether no lag within the main lobe around `lag`, in [first, last], is stronger.
    bool peaksAt(Lag lag, Lag first, Lag last) const {
        const double magnitude = std::abs(at(lag));
        for (Lag k = std::max(first, lag - kMainLobe); k <= std::min(last, lag + kMainLobe); ++k) {
            if (std::abs(at(k)) > magnitude) {
                return false;
            }
        }
        return true;
    }

    // Adds `sign` times a path's peak, shaped as the stimulus's autocorrelation, around its lag.
    void addPath(const Peak& path, double sign, const StimulusFigures& stimulus) {
        const auto centre = static_cast<Lag>(std::lround(path.lag));
        const Interpolator shape(-path.lag);
        for (Lag k = std::max(centre - kModelReach, m_firstLag);
             k <= std::min(centre + kModelReach, lastLag()); ++k) {
            const double change =
                sign * path.value * shape([&](Lag j) { return stimulus.shapeAt(j); }, k);
            Complex& both = m_lags[static_cast<std::size_t>(k - m_firstLag)];
            if (m_imaginary) {
                both.imag(both.imag() + static_cast<float>(change));
            } else {
                both.real(both.real() + static_cast<float>(change));
            }
        }
    }

private:
    std::vector<Complex>& m_lags;
    Lag m_firstLag;
    bool m_imaginary;
};

bool nearAny(const std::vector<Peak>& paths, Lag lag) {
    return std::any_of(paths.begin(), paths.end(), [&](const Peak& p) {
        return std::abs(static_cast<double>(lag) - p.lag) <= static_cast<double>(kMainLobe);
    });
}

// What a correlation peak at `lag` must exceed to be a path, with `paths` found already: the
// noise, the strongest path's sidelobes and, within a path's main lobe, what modelling that path
// leaves.
double pathFloor(const std::vector<Peak>& paths, Lag lag, double noiseFloor) {
    double floor = noiseFloor;
    for (const Peak& p : paths) {
        const bool near =
            std::abs(static_cast<double>(lag) - p.lag) <= static_cast<double>(kMainLobe);
        floor = std::max(floor, std::abs(p.value) * (near ? std::sqrt(fromDecibels(-kNearPathDb))
                                                          : kSidelobeFloor));
    }
    return floor;
}

// The paths an input's correlation shows in [first, last], strongest first, found one at a time
// and each taken out of `rest` before the next is looked for; after each, every path is refined
// again with the others taken out, so that paths within each other's main lobes come apart.
// A candidate must be the largest magnitude within its own main lobe, so that the flank of a
// path too weak to count is never taken for one beside it.
std::vector<Peak> findPaths(Correlation& rest, Lag first, Lag last, double noiseFloor,
                            const StimulusFigures& stimulus) {
    std::vector<Peak> paths;
    while (paths.size() < kMaxPaths) {
        std::optional<Lag> next;
        double nextMagnitude = 0;
        for (Lag k = first; k <= last; ++k) {
            const double magnitude = std::abs(rest.at(k));
            if (magnitude > nextMagnitude && magnitude > pathFloor(paths, k, noiseFloor) &&
                rest.peaksAt(k, first, last)) {
                next = k;
                nextMagnitude = magnitude;
            }
        }
        if (!next) {
            break;
        }
        paths.push_back(rest.refine(static_cast<double>(*next)));
        rest.addPath(paths.back(), -1.0, stimulus);
        for (int pass = 0; pass < kJointPasses && paths.size() > 1; ++pass) {
            for (Peak& path : paths) {
                rest.addPath(path, 1.0, stimulus);
                path = rest.refine(std::round(path.lag));
                rest.addPath(path, -1.0, stimulus);
            }
        }
        std::sort(paths.begin(), paths.end(), [](const Peak& a, const Peak& b) {
            return std::abs(a.value) > std::abs(b.value);
        });
    }
    return paths;
}

// The standard deviation of the correlation of noise, from the median magnitude over [first,
// last]: a loop's few lags of peak do not move it. Every other lag is enough, as neighbours are
// alike anyway.
double noiseDeviation(const Correlation& correlation, Lag first, Lag last) {
    std::vector<float> magnitudes;
    magnitudes.reserve(static_cast<std::size_t>(last - first) / 2 + 1);
    for (Lag k = first; k <= last; k += 2) {
        magnitudes.push_back(static_cast<float>(std::abs(correlation.at(k))));
    }
    const auto middle = magnitudes.begin() + static_cast<Lag>(magnitudes.size() / 2);
    std::nth_element(magnitudes.begin(), middle, magnitudes.end());
    return *middle / 0.6745;
}

// What one input tells, judged alone, and what its verdict needs besides.
struct InputJudgement {
    CorrelationFindings findings;
    std::vector<Peak> paths; // in recording lags
    double leadPower = 0;
    // The strongest correlation past the lags the recording holds whole, when it stands above
    // the path floor and above the loop (if any).
    bool strongerBeyond = false;
};

// The lags an input is searched over: whole arrivals only, from the end of the quiet lead.
struct SearchRange {
    Lag first;
    Lag last;
};

SearchRange searchRange(std::size_t recordingLength, std::size_t stimulusLength,
                        std::size_t quietLead) {
    return {static_cast<Lag>(quietLead),
            static_cast<Lag>(recordingLength - stimulusLength) - kLagsReadAround};
}

// `rest` is the input's correlation, which the paths found are taken out of.
InputJudgement judgeInput(Correlation rest, std::span<const float> samples,
                          const StimulusFigures& stimulus, const AnalysisWindow& window) {
    InputJudgement judged;
    CorrelationFindings& findings = judged.findings;
    const std::size_t quietLead = window.stimulusStart + window.shortestDelay;
    for (float s : samples.first(quietLead)) {
        judged.leadPower += square(s);
    }
    judged.leadPower /= static_cast<double>(quietLead);
    findings.noiseFloorDbfs = decibels(judged.leadPower);
    findings.clipped = std::any_of(samples.begin(), samples.end(),
                                   [](float s) { return std::abs(s) >= kNearFullScale; });

    const SearchRange range = searchRange(samples.size(), stimulus.samples.size(), quietLead);
    const double noiseFloor = kNoisePeakRatio * noiseDeviation(rest, range.first, range.last);
    const Lag strongestLag = *rest.strongest(range.first, range.last, [](Lag) { return true; });
    judged.paths = findPaths(rest, range.first, range.last, noiseFloor, stimulus);

    // Confidence: the strongest path over whatever is left beyond every path's main lobe; with
    // no path, the strongest lag over the strongest beyond its main lobe.
    const Peak main = judged.paths.empty()
                          ? Peak{static_cast<double>(strongestLag), rest.at(strongestLag)}
                          : judged.paths.front();
    const std::vector<Peak> excluded =
        judged.paths.empty() ? std::vector<Peak>{main} : judged.paths;
    const auto other =
        rest.strongest(range.first, range.last, [&](Lag k) { return !nearAny(excluded, k); });
    const double otherMagnitude = other ? std::abs(rest.at(*other)) : 0.0;
    // Digital silence correlates to nothing at all: no confidence rather than 0 / 0.
    findings.confidence = main.value == 0.0 ? 0.0 : std::abs(main.value) / otherMagnitude;

    const double floor = std::max(noiseFloor, kSidelobeFloor * std::abs(main.value));
    const auto beyond = rest.strongest(range.last + 1, rest.lastLag(), [](Lag) { return true; });
    const double beyondMagnitude = beyond ? std::abs(rest.at(*beyond)) : 0.0;

    findings.loopFound = !judged.paths.empty() && findings.confidence >= kMinimumConfidence;
    judged.strongerBeyond =
        beyondMagnitude > floor && (!findings.loopFound || beyondMagnitude > std::abs(main.value));
    if (!findings.loopFound) {
        judged.paths.clear();
        findings.floatingInput = findings.noiseFloorDbfs >= kFloatingInputDbfs;
        return judged;
    }
    const auto start = static_cast<double>(window.stimulusStart);
    for (const Peak& path : judged.paths) {
        findings.paths.push_back({path.lag - start,
                                  2.0 * decibels(std::abs(path.value) / stimulus.energy),
                                  path.value < 0 ? -1 : 1});
    }
    const SignalPath& loop = findings.paths.front();
    findings.delaySamples = loop.delaySamples;
    findings.polarity = loop.polarity;
    findings.levelDb = loop.levelDb;
    const double gain = std::abs(main.value) / stimulus.energy;
    findings.snrDb = decibels(gain * gain * stimulus.meanPower / judged.leadPower);
    if (findings.paths.size() > 1) {
        findings.ghost =
            GhostPath{findings.paths[1].delaySamples, findings.paths[1].levelDb - loop.levelDb};
    }

    const Lag windowStart = std::clamp<Lag>(std::lround(main.lag), range.first, range.last);
    double windowEnergy = 0;
    for (float s :
         samples.subspan(static_cast<std::size_t>(windowStart), stimulus.samples.size())) {
        windowEnergy += square(s);
    }
    const double normaliser = std::sqrt(stimulus.energy * windowEnergy);
    // Interpolation can lift the peak a hair above what the integer window allows.
    findings.correlation =
        normaliser == 0.0 ? 0.0 : std::min(1.0, std::abs(main.value) / normaliser);
    return judged;
}

// What the recording holds beyond the paths found, in blocks as long as the quiet lead: the
// rest over the noise floor (dB) of the block that most exceeds what it may hold; none when
// every block is within.
struct Residual {
    std::optional<double> unexplainedDb;
    double largestModelBlock = 0; // the loop's own level, as block energy
};

Residual residualOf(std::span<const float> samples, const std::vector<Peak>& paths,
                    const StimulusFigures& stimulus, std::size_t quietLead, double noisePower) {
    const std::size_t length = samples.size();
    const auto stimulusLength = static_cast<Lag>(stimulus.samples.size());
    // What the paths bring, over the recording indices they reach.
    const auto reach = [&](const Peak& path) {
        return std::pair{
            std::max<Lag>(static_cast<Lag>(std::floor(path.lag)) - kInterpolationHalfWidth,
                          static_cast<Lag>(quietLead)),
            std::min<Lag>(static_cast<Lag>(std::ceil(path.lag)) + stimulusLength +
                              kInterpolationHalfWidth,
                          static_cast<Lag>(length))};
    };
    Lag modelFrom = static_cast<Lag>(length);
    Lag modelTo = 0;
    for (const Peak& path : paths) {
        modelFrom = std::min(modelFrom, reach(path).first);
        modelTo = std::max(modelTo, reach(path).second);
    }
    std::vector<double> model(static_cast<std::size_t>(std::max<Lag>(modelTo - modelFrom, 0)));
    for (const Peak& path : paths) {
        const double gain = path.value / stimulus.energy;
        const Interpolator delayed(-path.lag);
        const auto [from, to] = reach(path);
        for (Lag n = from; n < to; ++n) {
            model[static_cast<std::size_t>(n - modelFrom)] +=
                gain * delayed([&](Lag j) { return stimulus.sample(j); }, n);
        }
    }
    const auto modelAt = [&](std::size_t n) {
        const auto at = static_cast<Lag>(n) - modelFrom;
        return at >= 0 && at < static_cast<Lag>(model.size()) ? model[static_cast<std::size_t>(at)]
                                                              : 0.0;
    };

    const std::size_t blocks = std::max<std::size_t>(1, (length - quietLead) / quietLead);
    std::vector<double> restEnergy(blocks, 0.0);
    std::vector<double> modelEnergy(blocks, 0.0);
    std::vector<std::size_t> blockLength(blocks, 0);
    for (std::size_t n = quietLead; n < length; ++n) {
        const std::size_t b = std::min(blocks - 1, (n - quietLead) / quietLead);
        const double modelled = modelAt(n);
        restEnergy[b] += square(samples[n] - modelled);
        modelEnergy[b] += square(modelled);
        ++blockLength[b];
    }

    Residual residual;
    residual.largestModelBlock = *std::max_element(modelEnergy.begin(), modelEnergy.end());
    double worstExcess = 1.0;
    for (std::size_t b = 0; b < blocks; ++b) {
        const double noise = noisePower * static_cast<double>(blockLength[b]);
        const double nearbyModel = std::max({modelEnergy[b], b > 0 ? modelEnergy[b - 1] : 0.0,
                                             b + 1 < blocks ? modelEnergy[b + 1] : 0.0});
        const double allowed =
            fromDecibels(kNoiseMarginDb) * noise + fromDecibels(-kModelErrorDb) * nearbyModel;
        if (restEnergy[b] > worstExcess * allowed) {
            worstExcess = restEnergy[b] / allowed;
            residual.unexplainedDb = decibels(restEnergy[b] / noise);
        }
    }
    return residual;
}

// Loops first, the strongest of them; with none, an input where something stronger than the
// window holds may be arriving, then the loudest input.
bool describesBetter(const InputJudgement& a, const InputJudgement& b) {
    if (a.findings.loopFound != b.findings.loopFound) {
        return a.findings.loopFound;
    }
    if (a.findings.loopFound) {
        return a.findings.levelDb > b.findings.levelDb;
    }
    if (a.strongerBeyond != b.strongerBeyond) {
        return a.strongerBeyond;
    }
    return a.findings.noiseFloorDbfs > b.findings.noiseFloorDbfs;
}

// Whether a path kAmbiguityDb above this input's loop would clip, by a margin: then no path can
// come later that a longer recording would verify instead of the loop, for such a path is
// distorted far past what the residual allows. Not while something stronger is arriving.
bool leavesNoRoomAbove(const InputJudgement& judged, const StimulusFigures& stimulus) {
    constexpr double kClippedBy = 2.0; // 6 dB past full scale
    if (!judged.findings.loopFound || judged.strongerBeyond) {
        return false;
    }
    const double loopGain = std::abs(judged.paths.front().value) / stimulus.energy;
    return loopGain * stimulus.peak * std::pow(10.0, kAmbiguityDb / 20.0) >= kClippedBy;
}

// The delays the recording must have watched for the loop to be vouched for: every delay up to
// the longest searched; or, where the window allows an early end and every input's loop leaves no
// room above it, every delay up to the loop's and the guard after it.
std::size_t coverNeeded(const CorrelationFindings& findings, const AnalysisWindow& window,
                        bool everyInputLeavesNoRoom) {
    if (window.earlyEndGuard == 0 || !everyInputLeavesNoRoom) {
        return window.longestDelay;
    }
    const auto loopEnd = static_cast<std::size_t>(std::ceil(findings.delaySamples));
    return std::min(window.longestDelay, loopEnd + window.earlyEndGuard);
}

ResultVerdict verdictOf(const InputJudgement& judged, std::span<const float> samples,
                        const StimulusFigures& stimulus, const AnalysisWindow& window,
                        bool everyInputLeavesNoRoom) {
    const CorrelationFindings& findings = judged.findings;
    const std::size_t quietLead = window.stimulusStart + window.shortestDelay;
    const SearchRange range = searchRange(samples.size(), stimulus.samples.size(), quietLead);
    // Every delay up to here shows whole.
    const auto wholeUpTo = static_cast<std::size_t>(range.last) - window.stimulusStart;
    const bool searchedAll = wholeUpTo >= window.longestDelay;
    const VerdictReason longer{VerdictReason::LoopLongerThanWindow,
                               static_cast<double>(window.longestDelay)};
    if (!findings.loopFound) {
        return {
            Verdict::NoResult,
            {judged.strongerBeyond && searchedAll
                 ? longer
                 : VerdictReason{VerdictReason::NothingCameBack,
                                 static_cast<double>(std::min(wholeUpTo, window.longestDelay))}}};
    }
    if (findings.delaySamples > static_cast<double>(window.longestDelay) ||
        (judged.strongerBeyond && searchedAll)) {
        return {Verdict::NoResult, {longer}};
    }

    ResultVerdict verdict{Verdict::Doubtful, {}};
    if (findings.paths.size() > 1 &&
        findings.paths[0].levelDb - findings.paths[1].levelDb < kAmbiguityDb) {
        verdict.reasons.push_back(
            {VerdictReason::AmbiguousPaths, findings.paths[0].levelDb - findings.paths[1].levelDb});
    }
    const double noisePower = std::max(judged.leadPower, kDigitalSilencePower);
    const Residual residual = residualOf(samples, judged.paths, stimulus, quietLead, noisePower);
    if (residual.unexplainedDb) {
        verdict.reasons.push_back({VerdictReason::SignalUnexplained, *residual.unexplainedDb});
    }

    // How far the recording has watched: every delay at which a path within kAmbiguityDb of the
    // loop would have left a head that stands out of the residual of the block it falls in (or
    // of either of the two it straddles).
    const double loopGain = std::abs(judged.paths.front().value) / stimulus.energy;
    const double rivalPower = square(loopGain) * fromDecibels(-kAmbiguityDb);
    const double blockAllowance =
        (fromDecibels(kNoiseMarginDb) - 1.0) * noisePower * static_cast<double>(quietLead) +
        fromDecibels(-kModelErrorDb) * residual.largestModelBlock;
    const std::size_t head = stimulus.headHolding(2.0 * blockAllowance / rivalPower)
                                 .value_or(stimulus.samples.size() + kLagsReadAround);
    std::size_t watched = samples.size() > window.stimulusStart + head
                              ? samples.size() - window.stimulusStart - head
                              : 0;
    if (judged.strongerBeyond) {
        watched = std::min(watched, wholeUpTo);
    }
    if (watched < coverNeeded(findings, window, everyInputLeavesNoRoom)) {
        verdict.reasons.push_back({VerdictReason::RecordingCutShort, static_cast<double>(watched)});
    }
    if (verdict.reasons.empty()) {
        verdict.verdict = Verdict::Verified;
    }
    return verdict;
}

AnalysisError checkInputs(const Stimulus& stimulus, std::span<const std::span<const float>> inputs,
                          const AnalysisWindow& window) {
    if (stimulus.samples.empty() || stimulus.shape.size() != 2 * kStimulusShapeLags + 1) {
        return AnalysisError::NoStimulus;
    }
    if (inputs.empty()) {
        return AnalysisError::NoInputs;
    }
    if (window.shortestDelay == 0) {
        return AnalysisError::NoQuietLead;
    }
    const std::size_t quietLead = window.stimulusStart + window.shortestDelay;
    const std::size_t needed = quietLead + kMinimumSearchLags + stimulus.samples.size() +
                               static_cast<std::size_t>(kLagsReadAround);
    for (std::span<const float> input : inputs) {
        if (quietLead < window.stimulusStart || needed < quietLead || input.size() < needed) {
            return AnalysisError::RecordingTooShort;
        }
        if (!std::all_of(input.begin(), input.end(), [](float s) { return std::isfinite(s); })) {
            return AnalysisError::NotFinite;
        }
    }
    return AnalysisError::None;
}

// The lags every input is correlated over: from the quiet lead's end (less the taps the peak
// search reads) past the lags whole arrivals show at, as far as half the stimulus: what may be
// arriving beyond the window.
std::pair<Lag, Lag> lagsCorrelated(const Stimulus& stimulus,
                                   std::span<const std::span<const float>> inputs,
                                   const AnalysisWindow& window) {
    std::size_t longest = 0;
    for (std::span<const float> input : inputs) {
        longest = std::max(longest, input.size());
    }
    return {static_cast<Lag>(window.stimulusStart + window.shortestDelay) - kLagsReadAround,
            static_cast<Lag>(longest - stimulus.samples.size() / 2)};
}

CorrelationAnalysis analyseChecked(const Stimulus& stimulus,
                                   std::span<const std::span<const float>> inputs,
                                   const AnalysisWindow& window) {
    PairCorrelator correlator(stimulus.samples);
    const StimulusFigures figures(stimulus);

    const auto [firstLag, lastLag] = lagsCorrelated(stimulus, inputs, window);

    InputJudgement best;
    bool everyInputLeavesNoRoom = true;
    for (std::size_t pair = 0; pair < inputs.size(); pair += 2) {
        const bool both = pair + 1 < inputs.size();
        std::vector<Complex>& lags = correlator.correlate(
            inputs[pair], both ? inputs[pair + 1] : std::span<const float>{}, firstLag, lastLag);
        for (std::size_t index = pair; index < (both ? pair + 2 : pair + 1); ++index) {
            InputJudgement candidate = judgeInput(Correlation(lags, firstLag, index != pair),
                                                  inputs[index], figures, window);
            candidate.findings.input = static_cast<int>(index);
            everyInputLeavesNoRoom =
                everyInputLeavesNoRoom && leavesNoRoomAbove(candidate, figures);
            if (index == 0 || describesBetter(candidate, best)) {
                best = std::move(candidate);
            }
        }
    }
    const auto chosen = static_cast<std::size_t>(best.findings.input);
    ResultVerdict verdict =
        verdictOf(best, inputs[chosen], figures, window, everyInputLeavesNoRoom);
    return {std::move(best.findings), std::move(verdict)};
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

std::size_t recordingNeeded(const AnalysisWindow& window, std::size_t stimulusLength) {
    return window.stimulusStart + window.longestDelay + stimulusLength +
           static_cast<std::size_t>(kLagsReadAround);
}

CorrelationAnalysis analyseRecording(const Stimulus& stimulus,
                                     std::span<const std::span<const float>> inputs,
                                     const AnalysisWindow& window) noexcept {
    CorrelationAnalysis analysis;
    analysis.findings.error = checkInputs(stimulus, inputs, window);
    if (analysis.findings.error == AnalysisError::None) {
        try {
            return analyseChecked(stimulus, inputs, window);
        } catch (const std::bad_alloc&) {
            analysis.findings.error = AnalysisError::OutOfMemory;
        }
    }
    analysis.verdict = {Verdict::NoResult, {{VerdictReason::RecordingUnusable}}};
    return analysis;
}

bool strongestStillArriving(const Stimulus& stimulus,
                            std::span<const std::span<const float>> inputs,
                            const AnalysisWindow& window) noexcept {
    if (checkInputs(stimulus, inputs, window) != AnalysisError::None) {
        return false;
    }
    try {
        PairCorrelator correlator(stimulus.samples);
        const auto [firstLag, lastLag] = lagsCorrelated(stimulus, inputs, window);
        const std::size_t quietLead = window.stimulusStart + window.shortestDelay;
        for (std::size_t pair = 0; pair < inputs.size(); pair += 2) {
            const bool both = pair + 1 < inputs.size();
            std::vector<Complex>& lags = correlator.correlate(
                inputs[pair], both ? inputs[pair + 1] : std::span<const float>{}, firstLag,
                lastLag);
            for (std::size_t index = pair; index < (both ? pair + 2 : pair + 1); ++index) {
                const Correlation correlation(lags, firstLag, index != pair);
                const SearchRange range =
                    searchRange(inputs[index].size(), stimulus.samples.size(), quietLead);
                const std::optional<Lag> strongest = correlation.strongest(
                    correlation.firstLag(), correlation.lastLag(), [](Lag) { return true; });
                if (strongest && *strongest > range.last) {
                    return true;
                }
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return false;
}
