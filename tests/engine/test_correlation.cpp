// The correlation analysis on synthetic recordings with known answers: the stimulus through a
// band-limited fractional delay, with and without a converter's linear-phase low-pass, at loop
// gains from 0 to -60 dB under -80 dBFS noise, inverted, with a ghost path, clipped, and with no
// loop at all.

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

constexpr std::size_t kQuietLead = 256;
constexpr double kDelay = 400; // the quiet lead stays clear of the delay filter's 64 taps

double fromDb(double db) {
    return std::pow(10.0, db / 20.0);
}

struct Path {
    double delay;
    double gainDb;
    int polarity = 1;
};

struct Input {
    std::vector<Path> paths;
    std::optional<double> noiseDbfs; // RMS of Gaussian noise
    double cutoff = 0.5;             // of the rate; under 0.5, a converter's low-pass as well
};

// What the driver would hand over: every path through a fractional delay of 128 Kaiser-windowed
// sinc taps (not the analysis's own interpolation), then noise and saturation at full scale.
// With a cut-off under 0.5 the delay is also a linear-phase low-pass centred on it, so its group
// delay is part of the delay.
std::vector<float> record(const Stimulus& stimulus, const Input& input, std::uint64_t seed) {
    constexpr int halfWidth = 64;
    std::vector<double> mix(stimulus.samples.size() + 1000, 0.0);
    for (const Path& path : input.paths) {
        const double whole = std::floor(path.delay);
        std::vector<double> taps; // onto output whole + m + j for input m
        for (int j = 1 - halfWidth; j <= halfWidth; ++j) {
            const double x = j - (path.delay - whole);
            const double r = x / halfWidth;
            const double window =
                std::cyl_bessel_i(0.0, 9.0 * std::sqrt(1.0 - r * r)) / std::cyl_bessel_i(0.0, 9.0);
            const double sinc = x == 0.0 ? 2.0 * input.cutoff
                                         : std::sin(2.0 * std::numbers::pi * input.cutoff * x) /
                                               (std::numbers::pi * x);
            taps.push_back(path.polarity * fromDb(path.gainDb) * sinc * window);
        }
        for (std::size_t m = 0; m < stimulus.samples.size(); ++m) {
            for (std::size_t t = 0; t < taps.size(); ++t) {
                mix[static_cast<std::size_t>(whole) + m + t + 1 - halfWidth] +=
                    stimulus.samples[m] * taps[t];
            }
        }
    }
    std::mt19937_64 random(seed);
    std::normal_distribution<double> noise(0.0, fromDb(input.noiseDbfs.value_or(0.0)));
    std::vector<float> samples;
    for (double v : mix) {
        const double noisy = input.noiseDbfs ? v + noise(random) : v;
        samples.push_back(static_cast<float>(std::clamp(noisy, -1.0, 1.0)));
    }
    return samples;
}

CorrelationFindings analyse(const Stimulus& stimulus, const std::vector<Input>& inputs,
                            std::uint64_t seed = 1) {
    std::vector<std::vector<float>> channels;
    for (const Input& input : inputs) {
        channels.push_back(record(stimulus, input, seed++));
    }
    const std::vector<std::span<const float>> spans(channels.begin(), channels.end());
    return analyseRecording(stimulus, spans, kQuietLead);
}

struct Scene {
    double rate;
    double gainDb;
    int polarity;
    std::optional<double> noiseDbfs; // on every input
    int inputs;
    int loopInput;
    std::optional<Path> ghost; // beside the loop, on its input
};

struct LoopCase : Scene {
    double fraction;
    double cutoff;
};

class Loop : public ::testing::TestWithParam<LoopCase> {};

TEST_P(Loop, DelayToAFewHundredthsOfASampleAndEveryFigureOfThePath) {
    const LoopCase c = GetParam();
    const Stimulus stimulus = makeStimulus(c.rate);
    std::vector<Input> inputs(static_cast<std::size_t>(c.inputs), Input{{}, c.noiseDbfs});
    Input& loop = inputs[static_cast<std::size_t>(c.loopInput)];
    loop = {{{kDelay + c.fraction, c.gainDb, c.polarity}}, c.noiseDbfs, c.cutoff};
    if (c.ghost) {
        loop.paths.push_back(*c.ghost);
    }
    const CorrelationFindings found = analyse(stimulus, inputs);

    ASSERT_EQ(found.error, AnalysisError::None);
    ASSERT_TRUE(found.loopFound);
    EXPECT_EQ(found.input, c.loopInput);
    EXPECT_NEAR(found.delaySamples, kDelay + c.fraction, 0.05);
    EXPECT_EQ(found.polarity, c.polarity);
    EXPECT_EQ(found.has(Diagnosis::InvertedPolarity), c.polarity < 0);
    // The stimulus peaks at the pulse's level.
    const bool clips = c.gainDb + 20.0 * std::log10(std::ldexp(kPulseLevel, -31)) > 0.0;
    EXPECT_EQ(found.has(Diagnosis::Clipping), clips);
    if (!clips) {
        EXPECT_NEAR(found.levelDb, c.gainDb, 0.1);
    }
    if (c.noiseDbfs) {
        EXPECT_NEAR(found.noiseFloorDbfs, *c.noiseDbfs, 1.5);
        if (!clips) {
            double power = 0;
            for (float s : stimulus.samples) {
                power += double{s} * s / static_cast<double>(stimulus.samples.size());
            }
            EXPECT_NEAR(found.snrDb, c.gainDb + 10.0 * std::log10(power) - *c.noiseDbfs, 1.5);
        }
    } else { // a digital loop: nothing but the stimulus's own autocorrelation beyond the peak
        EXPECT_EQ(found.noiseFloorDbfs, -INFINITY);
        EXPECT_GT(found.confidence, 1000);
        EXPECT_GT(found.correlation, 0.9999);
    }
    ASSERT_EQ(found.has(Diagnosis::Ghost), c.ghost.has_value());
    if (c.ghost) {
        EXPECT_NEAR(found.ghost->delaySamples, c.ghost->delay, 0.05);
        EXPECT_NEAR(found.ghost->levelDb, c.ghost->gainDb - c.gainDb, 0.5);
    }
    EXPECT_FALSE(found.floatingInput);
}

std::vector<LoopCase> loopCases() {
    const Scene scenes[] = {
        {48000, 0, 1, -80.0, 2, 1, std::nullopt},
        {44100, 0, 1, std::nullopt, 1, 0, std::nullopt},
        {44100, -20, -1, -80.0, 1, 0, std::nullopt},
        {96000, -40, 1, -80.0, 3, 2, std::nullopt},
        {192000, -60, -1, -80.0, 2, 0, std::nullopt},
        {192000, 0, -1, std::nullopt, 1, 0, std::nullopt},
        {48000, -6, 1, -80.0, 1, 0, Path{kDelay + 150.5, -36}},
        {48000, -6, -1, -80.0, 2, 1, Path{kDelay - 100.4, -36}},
        {48000, 12, 1, -80.0, 1, 0, std::nullopt},
    };
    std::vector<LoopCase> cases;
    for (const Scene& scene : scenes) {
        for (double fraction : {0.0, 0.25, 0.5, 0.73}) {
            for (double cutoff : {0.5, 0.45}) {
                cases.push_back({scene, fraction, cutoff});
            }
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(ScenesFractionsAndConverters, Loop, ::testing::ValuesIn(loopCases()));

// Noise alone, loud or quiet, never gives a delay (a hundred seeded runs through the simulator
// are in test_correlation_method.cpp); loud noise is a floating input unless a loop is beside it.
TEST(NoLoop, OnlyLoudNoiseWithoutALoopIsAFloatingInput) {
    const Stimulus stimulus = makeStimulus(48000);
    const CorrelationFindings floating = analyse(stimulus, {{{}, -80.0}, {{}, -10.0}});
    ASSERT_EQ(floating.error, AnalysisError::None);
    EXPECT_TRUE(floating.has(Diagnosis::NoLoop) && floating.has(Diagnosis::FloatingInput));
    EXPECT_TRUE(std::isnan(floating.delaySamples) && floating.input == 1);
    EXPECT_NEAR(floating.noiseFloorDbfs, -10, 1.5);
    const CorrelationFindings found = analyse(stimulus, {{{}, -10.0}, {{{kDelay, -50}}, -80.0}});
    EXPECT_TRUE(found.loopFound && found.input == 1 && !found.floatingInput);
}

// Inputs the analysis must refuse, and the smallest it must take: silence, which has no loop.
struct InputCase {
    const char* name;
    bool withStimulus;
    int inputs;
    std::size_t extraLength; // beyond the stimulus
    std::size_t quietLead;
    float poison; // written in the middle of the last input, when not 0
    AnalysisError error;
};

class InputChecks : public ::testing::TestWithParam<InputCase> {};

TEST_P(InputChecks, RefusedWithItsReasonOrTakenWithoutALoop) {
    const InputCase c = GetParam();
    const Stimulus stimulus = makeStimulus(48000);
    std::vector<std::vector<float>> channels(
        static_cast<std::size_t>(c.inputs),
        std::vector<float>(stimulus.samples.size() + c.extraLength, 0.0f));
    if (c.poison != 0.0f) {
        channels.back()[channels.back().size() / 2] = c.poison;
    }
    const std::vector<std::span<const float>> spans(channels.begin(), channels.end());
    const CorrelationFindings found =
        analyseRecording(c.withStimulus ? stimulus : Stimulus{}, spans, c.quietLead);
    EXPECT_EQ(found.error, c.error);
    EXPECT_TRUE(!found.loopFound && std::isnan(found.delaySamples));
    EXPECT_EQ(found.input < 0, c.error != AnalysisError::None);
}

INSTANTIATE_TEST_SUITE_P(
    SizesAndValues, InputChecks,
    ::testing::Values(
        InputCase{"NoStimulus", false, 1, 1000, 10, 0, AnalysisError::NoStimulus},
        InputCase{"NoInputs", true, 0, 1000, 10, 0, AnalysisError::NoInputs},
        InputCase{"NoQuietLead", true, 1, 1000, 0, 0, AnalysisError::NoQuietLead},
        InputCase{"JustRoomToSearch", true, 2, 10 + kMinimumSearchLags, 10, 0, AnalysisError::None},
        InputCase{"NoRoomToSearch", true, 2, 9 + kMinimumSearchLags, 10, 0,
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
