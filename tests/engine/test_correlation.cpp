// The correlation analysis on synthetic recordings with known answers: clean and quiet loops,
// second paths, slips of the timeline, clipping, and prefixes of a growing recording.

#include "engine/correlation.h"
#include "engine/sample_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace {

double fromDb(double db) {
    return std::pow(10.0, db / 20.0);
}

struct Path {
    double delay; // the round trip, from the stimulus's start
    double gainDb;
    int polarity = 1;
};

// A recording as the driver would hand it over, in the method's layout: `start` samples of
// silence before the stimulus, round trips from `shortest` to `longest` searched.
struct Scene {
    std::vector<Path> paths{};
    std::optional<double> noiseDbfs{}; // RMS of Gaussian noise
    double cutoff = 0.5;               // of the rate; under 0.5, a converter's low-pass as well
    double rate = 48000;
    std::size_t longest = 12000;
    // From recording index slipAt on, everything arrives slipBy samples later: a period lost or
    // repeated, a latency that changed.
    double slipAt = 0;
    double slipBy = 0;
    // A foreign tone of this level (dBFS peak) over the whole recording after the quiet lead.
    std::optional<double> toneDbfs{};
    SweepDirection direction = SweepDirection::Rising;

    std::size_t start() const { return static_cast<std::size_t>(rate / 50); }
    AnalysisWindow window() const { return {start(), 256, longest}; }
};

// Adds `signal` delayed by `delay` samples, through a fractional delay of 128 Kaiser-windowed
// sinc taps (not the analysis's own interpolation); with a cut-off under 0.5 it is also a
// linear-phase low-pass centred on the delay.
void addDelayed(std::vector<double>& mix, const std::vector<float>& signal, double delay,
                double gain, double cutoff) {
    constexpr int halfWidth = 64;
    const double whole = std::floor(delay);
    std::vector<double> taps;
    for (int j = 1 - halfWidth; j <= halfWidth; ++j) {
        const double x = j - (delay - whole);
        const double r = x / halfWidth;
        const double window =
            std::cyl_bessel_i(0.0, 9.0 * std::sqrt(1.0 - r * r)) / std::cyl_bessel_i(0.0, 9.0);
        const double sinc =
            x == 0.0 ? 2.0 * cutoff
                     : std::sin(2.0 * std::numbers::pi * cutoff * x) / (std::numbers::pi * x);
        taps.push_back(gain * sinc * window);
    }
    for (std::size_t m = 0; m < signal.size(); ++m) {
        for (std::size_t t = 0; t < taps.size(); ++t) {
            const auto at = static_cast<std::ptrdiff_t>(whole) +
                            static_cast<std::ptrdiff_t>(m + t) + 1 - halfWidth;
            if (at >= 0 && at < static_cast<std::ptrdiff_t>(mix.size())) {
                mix[static_cast<std::size_t>(at)] += signal[m] * taps[t];
            }
        }
    }
}

std::vector<float> record(const Scene& scene, const Stimulus& stimulus, std::uint64_t seed) {
    const std::size_t length = recordingNeeded(scene.window(), stimulus.samples.size());
    std::vector<double> arriving(length + 2 * stimulus.samples.size(), 0.0);
    for (const Path& path : scene.paths) {
        addDelayed(arriving, stimulus.samples, static_cast<double>(scene.start()) + path.delay,
                   path.polarity * fromDb(path.gainDb), scene.cutoff);
    }
    std::vector<double> mix(length, 0.0);
    for (std::size_t i = 0; i < length; ++i) {
        const double from = i < scene.slipAt ? static_cast<double>(i) : i - scene.slipBy;
        mix[i] = from < 0 ? 0.0 : arriving[static_cast<std::size_t>(from)];
    }
    std::mt19937_64 random(seed);
    std::normal_distribution<double> noise(0.0, fromDb(scene.noiseDbfs.value_or(0.0)));
    std::vector<float> samples;
    for (std::size_t i = 0; i < length; ++i) {
        double v = mix[i] + (scene.noiseDbfs ? noise(random) : 0.0);
        if (scene.toneDbfs && i >= scene.window().stimulusStart + 256) {
            v += fromDb(*scene.toneDbfs) * std::sin(0.0123 * static_cast<double>(i));
        }
        samples.push_back(static_cast<float>(std::clamp(v, -1.0, 1.0)));
    }
    return samples;
}

// The analysis of `inputs` scenes (one per input), or of the first `prefix` samples of each.
CorrelationAnalysis analyse(const std::vector<Scene>& inputs, std::uint64_t seed = 1,
                            std::size_t prefix = SIZE_MAX) {
    const Scene& first = inputs.front();
    const Stimulus stimulus = makeStimulus(first.rate, first.direction);
    std::vector<std::vector<float>> channels;
    std::vector<std::span<const float>> spans;
    for (const Scene& scene : inputs) {
        channels.push_back(record(scene, stimulus, seed++));
    }
    for (const std::vector<float>& channel : channels) {
        spans.emplace_back(channel.data(), std::min(prefix, channel.size()));
    }
    return analyseRecording(stimulus, spans, first.window());
}

struct LoopSetup {
    double rate;
    double gainDb;
    int polarity;
    std::optional<double> noiseDbfs;
    int inputs;
    int loopInput;
};

struct CleanCase : LoopSetup {
    SweepDirection direction;
    double delay;
    double cutoff;
};

class CleanLoop : public ::testing::TestWithParam<CleanCase> {};

// Clean loops are verified, with no second path and every figure right; without noise, to a
// ten-thousandth of a sample.
TEST_P(CleanLoop, VerifiedWithOnePathAndEveryFigure) {
    const CleanCase c = GetParam();
    Scene silent{.noiseDbfs = c.noiseDbfs, .rate = c.rate, .direction = c.direction};
    std::vector<Scene> inputs(static_cast<std::size_t>(c.inputs), silent);
    Scene& loop = inputs[static_cast<std::size_t>(c.loopInput)];
    loop.paths = {{c.delay, c.gainDb, c.polarity}};
    loop.cutoff = c.cutoff;
    const CorrelationAnalysis analysis = analyse(inputs);
    const CorrelationFindings& found = analysis.findings;

    ASSERT_EQ(found.error, AnalysisError::None);
    ASSERT_TRUE(found.loopFound);
    EXPECT_EQ(analysis.verdict.verdict, Verdict::Verified);
    EXPECT_TRUE(analysis.verdict.reasons.empty());
    EXPECT_EQ(found.input, c.loopInput);
    EXPECT_NEAR(found.delaySamples, c.delay, c.noiseDbfs ? 0.05 : 1e-4);
    EXPECT_EQ(found.paths.size(), 1u);
    EXPECT_FALSE(found.has(Diagnosis::Ghost));
    EXPECT_EQ(found.polarity, c.polarity);
    EXPECT_EQ(found.has(Diagnosis::InvertedPolarity), c.polarity < 0);
    EXPECT_FALSE(found.has(Diagnosis::Clipping));
    EXPECT_NEAR(found.levelDb, c.gainDb, 0.1);
    if (c.noiseDbfs) {
        EXPECT_NEAR(found.noiseFloorDbfs, *c.noiseDbfs, 1.5);
        const Stimulus stimulus = makeStimulus(c.rate);
        double power = 0;
        for (float s : stimulus.samples) {
            power += double{s} * s / static_cast<double>(stimulus.samples.size());
        }
        EXPECT_NEAR(found.snrDb, c.gainDb + 10.0 * std::log10(power) - *c.noiseDbfs, 1.5);
    } else { // a digital loop: nothing but the stimulus's own autocorrelation beyond the peak
        EXPECT_LT(found.noiseFloorDbfs, -100); // what a loop shorter than 256 + 64 rings before
        EXPECT_GT(found.confidence, 1000);
        EXPECT_GT(found.correlation, 0.9999);
    }
    EXPECT_FALSE(found.floatingInput);
}

std::vector<CleanCase> cleanCases() {
    const LoopSetup setups[] = {
        {48000, 0, 1, -80.0, 2, 1},         {44100, 0, 1, std::nullopt, 1, 0},
        {44100, -20, -1, -80.0, 1, 0},      {96000, -40, 1, -80.0, 3, 2},
        {192000, -60, -1, -80.0, 2, 0},     {192000, 0, -1, std::nullopt, 1, 0},
        {8000, -6, 1, std::nullopt, 1, 0},  {48000, -80, 1, -110.0, 1, 0},
        {48000, -3, 1, std::nullopt, 1, 0},
    };
    std::vector<CleanCase> cases;
    for (const LoopSetup& setup : setups) {
        // Loops shorter than a buffer and a sidelobe's reach, ordinary, and near the window's end.
        for (double delay : {280.0, 4000.25, 11999.73}) {
            // No converter; a converter's; one whose band edge cuts into the sweep's top.
            for (double cutoff : {0.5, 0.45, 0.43}) {
                const auto direction =
                    cases.size() % 2 ? SweepDirection::Falling : SweepDirection::Rising;
                cases.push_back({setup, direction, delay, cutoff});
            }
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(RatesLevelsDelaysAndConverters, CleanLoop,
                         ::testing::ValuesIn(cleanCases()));

// What must never be verified with a wrong latency, each with the verdict it gets.
struct HostileCase {
    const char* name;
    Scene scene;
    Verdict verdict;
    std::optional<VerdictReason::Kind> reason = std::nullopt; // among the verdict's reasons
    double truth = 4000;                                      // the cable loop's round trip
};

class Hostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(Hostile, NeverVerifiedWrongAndGivenItsReason) {
    const HostileCase& c = GetParam();
    for (std::uint64_t seed = 1; seed <= 3; ++seed) {
        SCOPED_TRACE(seed);
        const CorrelationAnalysis analysis = analyse({c.scene}, seed);
        const CorrelationFindings& found = analysis.findings;
        EXPECT_EQ(analysis.verdict.verdict, c.verdict);
        if (c.reason) {
            EXPECT_TRUE(std::any_of(analysis.verdict.reasons.begin(),
                                    analysis.verdict.reasons.end(),
                                    [&](const VerdictReason& r) { return r.kind == *c.reason; }));
        }
        if (analysis.verdict.verified()) {
            EXPECT_NEAR(found.delaySamples, c.truth, 0.5);
            // Every path reported is one of the scene's, and every one within 35 dB of the
            // loop is reported.
            const auto matches = [](const SignalPath& p, const Path& path) {
                return std::abs(p.delaySamples - path.delay) < 0.5 &&
                       std::abs(p.levelDb - path.gainDb) < 1;
            };
            const std::vector<Path>& truth = c.scene.paths;
            for (const SignalPath& p : found.paths) {
                EXPECT_TRUE(std::any_of(truth.begin(), truth.end(), [&](const Path& path) {
                    return matches(p, path);
                })) << p.delaySamples;
            }
            for (const Path& path : truth) {
                EXPECT_TRUE(path.gainDb < found.levelDb - 35 ||
                            std::any_of(found.paths.begin(), found.paths.end(),
                                        [&](const SignalPath& p) { return matches(p, path); }))
                    << path.delay;
            }
        }
        // Two paths are never averaged into one number: the latency is one of theirs.
        if (found.loopFound && c.scene.paths.size() == 2 && c.scene.slipBy == 0) {
            const double a = c.scene.paths[0].delay;
            const double b = c.scene.paths[1].delay;
            EXPECT_LT(std::min(std::abs(found.delaySamples - a), std::abs(found.delaySamples - b)),
                      0.5);
        }
    }
}

constexpr double kLoop = 4000;
constexpr double kSweepMiddle = 960 + kLoop + 2400; // where the middle of the sweep comes back

Scene withPaths(std::vector<Path> paths) {
    return Scene{.paths = std::move(paths), .noiseDbfs = -90.0};
}

Scene slipped(double by) {
    Scene scene = withPaths({{kLoop, -3}});
    scene.slipAt = kSweepMiddle;
    scene.slipBy = by;
    return scene;
}

std::vector<HostileCase> hostileCases() {
    using enum Verdict;
    using R = VerdictReason;
    return {
        {"EqualPathsApart", withPaths({{kLoop, -6}, {kLoop + 200, -6}}), Doubtful,
         R::AmbiguousPaths},
        {"EqualPathsWithinAMainLobe", withPaths({{kLoop, -6}, {kLoop - 7, -6}}), Doubtful,
         R::AmbiguousPaths},
        {"StrongerSecondPathBefore", withPaths({{kLoop, -16}, {kLoop - 150, -6}}), Doubtful,
         R::AmbiguousPaths},
        {"StrongerSecondPathAfter", withPaths({{kLoop, -16}, {kLoop + 33, -6}}), Doubtful,
         R::AmbiguousPaths},
        {"SecondPath15dBDown", withPaths({{kLoop, -3}, {kLoop + 90, -18}}), Doubtful,
         R::AmbiguousPaths},
        {"SecondPath30dBDownWithinAMainLobe", withPaths({{kLoop, -3}, {kLoop + 20, -33}}),
         Verified},
        {"SecondPath43dBDownAtTheMainLobesEdge", withPaths({{kLoop, -3}, {kLoop + 47, -46}}),
         Verified},
        {"LoopHeadInTheRecordingsTail", withPaths({{12000 + 4400, -3}, {500, -33}}), Doubtful,
         R::SignalUnexplained},
        {"PeriodLostMidSweep", slipped(-256), Doubtful, R::SignalUnexplained},
        {"SmallPeriodLostMidSweep", slipped(-32), Doubtful, R::SignalUnexplained},
        {"PeriodRepeatedMidSweep", slipped(64), Doubtful, R::SignalUnexplained},
        {"LatencyChangedMidSweep", slipped(128.5), Doubtful, R::SignalUnexplained},
        {"SlightClipping", withPaths({{kLoop, 6.5}}), Verified},
        {"ForeignTone", Scene{.paths = {{kLoop, -6}}, .noiseDbfs = -90.0, .toneDbfs = -50.0},
         Doubtful, R::SignalUnexplained},
    };
}

INSTANTIATE_TEST_SUITE_P(Families, Hostile, ::testing::ValuesIn(hostileCases()),
                         [](const auto& param) { return std::string(param.param.name); });

// A prefix of a growing recording is verified only once it has watched every round trip searched,
// and then says what the whole says; a stronger path arriving late keeps every prefix doubtful.
TEST(Prefix, VerifiedOnlyOnceEveryRoundTripSearchedHasBeenWatched) {
    Scene clean = withPaths({{kLoop, -3}});
    const std::size_t whole =
        recordingNeeded(clean.window(), makeStimulus(clean.rate).samples.size());
    std::optional<std::size_t> firstVerified;
    for (std::size_t prefix = 6000; prefix <= whole; prefix += 256) {
        const CorrelationAnalysis analysis = analyse({clean}, 1, prefix);
        if (analysis.verdict.verified()) {
            firstVerified = firstVerified.value_or(prefix);
            EXPECT_NEAR(analysis.findings.delaySamples, kLoop, 1e-3);
        } else if (firstVerified) {
            ADD_FAILURE() << "verified at " << *firstVerified << ", not at " << prefix;
        }
    }
    ASSERT_TRUE(firstVerified);
    EXPECT_GE(*firstVerified, clean.start() + clean.longest);
    EXPECT_LT(*firstVerified, clean.start() + clean.longest + 4800 / 2);

    Scene later = withPaths({{kLoop, -20}, {11990, -6}});
    later.noiseDbfs = -50;
    for (std::size_t prefix = later.start() + later.longest; prefix <= whole; prefix += 64) {
        EXPECT_FALSE(analyse({later}, 1, prefix).verdict.verified()) << prefix;
    }
}

// Inputs the analysis must refuse, and the smallest it must take: silence, which has no loop.
struct InputCase {
    const char* name;
    bool withStimulus;
    int inputs;
    std::size_t extraLength; // beyond the stimulus and the interpolation's margin
    std::size_t shortest;
    float poison; // written in the middle of the last input, when not 0
    AnalysisError error;
};

class InputChecks : public ::testing::TestWithParam<InputCase> {};

TEST_P(InputChecks, RefusedWithItsReasonOrTakenWithoutALoop) {
    const InputCase c = GetParam();
    const Stimulus stimulus = makeStimulus(48000);
    const AnalysisWindow window{10, c.shortest, 1000};
    std::vector<std::vector<float>> channels(
        static_cast<std::size_t>(c.inputs),
        std::vector<float>(stimulus.samples.size() + 33 + c.extraLength, 0.0f));
    if (c.poison != 0.0f) {
        channels.back()[channels.back().size() / 2] = c.poison;
    }
    const std::vector<std::span<const float>> spans(channels.begin(), channels.end());
    const CorrelationAnalysis analysis =
        analyseRecording(c.withStimulus ? stimulus : Stimulus{}, spans, window);
    EXPECT_EQ(analysis.findings.error, c.error);
    EXPECT_TRUE(!analysis.findings.loopFound && std::isnan(analysis.findings.delaySamples));
    EXPECT_EQ(analysis.findings.input < 0, c.error != AnalysisError::None);
    EXPECT_EQ(analysis.verdict.verdict, Verdict::NoResult);
    EXPECT_EQ(analysis.verdict.reasons.front().kind, c.error == AnalysisError::None
                                                         ? VerdictReason::NothingCameBack
                                                         : VerdictReason::RecordingUnusable);
}

INSTANTIATE_TEST_SUITE_P(
    SizesAndValues, InputChecks,
    ::testing::Values(
        InputCase{"NoStimulus", false, 1, 1000, 10, 0, AnalysisError::NoStimulus},
        InputCase{"NoInputs", true, 0, 1000, 10, 0, AnalysisError::NoInputs},
        InputCase{"NoQuietLead", true, 1, 1000, 0, 0, AnalysisError::NoQuietLead},
        InputCase{"JustRoomToSearch", true, 2, 20 + kMinimumSearchLags, 10, 0, AnalysisError::None},
        InputCase{"NoRoomToSearch", true, 2, 19 + kMinimumSearchLags, 10, 0,
                  AnalysisError::RecordingTooShort},
        InputCase{"LeadLongerThanRecording", true, 1, 1000, 1 << 20, 0,
                  AnalysisError::RecordingTooShort},
        InputCase{"NaN", true, 2, 1000, 10, NAN, AnalysisError::NotFinite},
        InputCase{"Infinity", true, 3, 1000, 10, -INFINITY, AnalysisError::NotFinite}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Stimulus, UnderASecondAtThePulsesLevelForEveryRateAndNothingForAbsurdOnes) {
    for (double rate : {8000.0, 44100.0, 192000.0, 768000.0}) {
        const Stimulus stimulus = makeStimulus(rate);
        ASSERT_FALSE(stimulus.samples.empty()) << rate;
        EXPECT_LT(static_cast<double>(stimulus.samples.size()), rate / 2);
        const auto [low, high] =
            std::minmax_element(stimulus.samples.begin(), stimulus.samples.end());
        const double pulse = std::ldexp(kPulseLevel, -31);
        EXPECT_LE(std::max(-*low, *high), pulse);
        EXPECT_GT(std::max(-*low, *high), 0.98 * pulse);
    }
    for (double rate : {0.0, 7999.0, 768001.0, -48000.0, double{NAN}, double{INFINITY}}) {
        EXPECT_TRUE(makeStimulus(rate).samples.empty()) << rate;
    }
}

} // namespace
