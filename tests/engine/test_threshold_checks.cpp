// The threshold's judgement of what crossed, the dropout watch, the checks before arming, quiet
// start and saturating conversion: the measurement itself, driven by hand through a loop of the
// test's (engine/hand_loop.h).

#include "asio/sample_types.h"
#include "engine/hand_loop.h"
#include "engine/sample_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <optional>
#include <random>

namespace {

// Whether a buffer half holds only zero bytes: silence in every format.
bool silent(const std::vector<std::uint8_t>& half) {
    return std::all_of(half.begin(), half.end(), [](std::uint8_t b) { return b == 0; });
}

using Signal = std::function<double(std::int64_t)>;
using Rng = std::mt19937;

double uniform(Rng& rng, double peak) {
    return std::uniform_real_distribution<double>(-peak, peak)(rng);
}

// What output 0 played `delay` samples before t, through a converter's linear-phase low-pass at
// 0.45 of the rate (Kaiser-windowed sinc, 49 taps): `delay` may lie between samples.
double throughConverter(const HandLoop& loop, std::int64_t t, double delay) {
    static double fraction = -1;
    static std::array<double, 49> taps{}; // for sample centre - 24 + k
    const double whole = std::floor(delay);
    if (delay - whole != fraction) {
        fraction = delay - whole;
        for (std::size_t k = 0; k < taps.size(); ++k) {
            const double x = 24.0 - static_cast<double>(k) - fraction;
            const double r = std::clamp(x / 25, -1.0, 1.0);
            const double window =
                std::cyl_bessel_i(0.0, 8.0 * std::sqrt(1 - r * r)) / std::cyl_bessel_i(0.0, 8.0);
            const double sinc =
                x == 0 ? 0.9 : std::sin(0.9 * std::numbers::pi * x) / (std::numbers::pi * x);
            taps[k] = sinc * window;
        }
    }
    const std::int64_t centre = t - static_cast<std::int64_t>(whole);
    double sum = 0;
    for (std::size_t k = 0; k < taps.size(); ++k) {
        sum += loop.sent(centre - 24 + static_cast<std::int64_t>(k)) * taps[k];
    }
    return sum;
}

// An input coupled through a capacitor: a first-order high-pass at `hertz`, fed in order.
Signal acCoupled(double hertz, Signal in) {
    const double a = 1 / (1 + 2 * std::numbers::pi * hertz / 48000);
    return [a, in, last = 0.0, out = 0.0](std::int64_t t) mutable {
        const double x = in(t);
        out = a * (out + x - last);
        last = x;
        return out;
    };
}

struct Hostile {
    const char* name;
    std::int32_t frames;
    std::int32_t sensitivity;                        // list position
    Signal (*heard)(const HandLoop& loop, Rng& rng); // the input
    std::optional<double> truth;                     // the onset a verified result must give
    Verdict expected;
    double tolerance = 0;
};

const Hostile kHostile[] = {
    {"clean loop, 64", 64, 2,
     [](const HandLoop& l, Rng&) -> Signal {
         return [&](std::int64_t t) { return l.sent(t - 160); };
     },
     160, Verdict::Verified},
    {"clean loop, 2048", 2048, 2,
     [](const HandLoop& l, Rng&) -> Signal {
         return [&](std::int64_t t) { return l.sent(t - 4128); };
     },
     4128, Verdict::Verified},
    {"quiet noise and DC", 256, 0,
     [](const HandLoop& l, Rng& rng) -> Signal {
         return [&](std::int64_t t) { return l.sent(t - 544) + 0.001 + uniform(rng, 1e-4); };
     },
     544, Verdict::Verified},
    {"converter, fraction", 256, 2,
     [](const HandLoop& l, Rng&) -> Signal {
         return [&](std::int64_t t) { return throughConverter(l, t, 612.25); };
     },
     612.25, Verdict::Verified, 1.5},
    {"converter at -24 dB", 256, 0,
     [](const HandLoop& l, Rng&) -> Signal {
         return [&](std::int64_t t) { return throughConverter(l, t, 612.25); };
     },
     612.25, Verdict::Verified, 2.5},
    {"AC-coupled at 5 Hz, 2048", 2048, 2,
     [](const HandLoop& l, Rng&) -> Signal {
         return acCoupled(5, [&](std::int64_t t) { return l.sent(t - 4128); });
     },
     4128, Verdict::Verified},
    {"inverted, AC-coupled, -24 dB", 256, 0,
     [](const HandLoop& l, Rng&) -> Signal {
         return acCoupled(5, [&](std::int64_t t) { return -l.sent(t - 544); });
     },
     std::nullopt, Verdict::NoResult},
    {"an inverted path, and a second one a buffer later", 32, 2,
     [](const HandLoop& l, Rng&) -> Signal {
         return [&](std::int64_t t) { return l.sent(t - 132) - l.sent(t - 100); };
     },
     std::nullopt, Verdict::NoResult},
    {"another program's pulses", 256, 2,
     [](const HandLoop&, Rng&) -> Signal {
         return [](std::int64_t t) { return (t + 246) % 512 < 256 ? 0.5 : 0.0; };
     },
     std::nullopt, Verdict::NoResult},
    {"a bipolar burst one buffer long", 256, 2,
     [](const HandLoop&, Rng&) -> Signal {
         return [](std::int64_t t) {
             return t >= 700 && t < 764   ? 0.5
                    : t >= 764 && t < 828 ? -0.5
                    : t >= 828 && t < 956 ? 0.5
                                          : 0.0;
         };
     },
     std::nullopt, Verdict::NoResult},
    // A second path over the threshold, before the loop: nothing tells which is the cable.
    {"a mixer path 3 dB down, 40 samples before the loop", 256, 2,
     [](const HandLoop& l, Rng&) -> Signal {
         return [&](std::int64_t t) { return 0.7 * l.sent(t - 504) + l.sent(t - 544); };
     },
     504, Verdict::Doubtful},
    {"a path as strong, 150 samples before the loop", 64, 2,
     [](const HandLoop& l, Rng&) -> Signal {
         return [&](std::int64_t t) { return l.sent(t - 228) + l.sent(t - 378); };
     },
     228, Verdict::Doubtful},
    // Paths inside one pulse: the input pauses on one path's level on the way up or down.
    {"a path as strong, 2 samples before the loop", 256, 0,
     [](const HandLoop& l, Rng&) -> Signal {
         return [&](std::int64_t t) { return 0.5 * (l.sent(t - 542) + l.sent(t - 544)); };
     },
     542, Verdict::Doubtful},
    {"a path 7 dB stronger, 3 samples before the loop, clipping the input", 256, 0,
     [](const HandLoop& l, Rng&) -> Signal {
         return [&](std::int64_t t) { return 2.24 * l.sent(t - 541) + l.sent(t - 544); };
     },
     541, Verdict::Doubtful},
    {"a path 14 dB down, 12 samples before the loop", 256, 0,
     [](const HandLoop& l, Rng&) -> Signal {
         return [&](std::int64_t t) { return 0.2 * l.sent(t - 532) + l.sent(t - 544); };
     },
     532, Verdict::Doubtful},
    {"ghost 30 dB down before the loop", 256, 2,
     [](const HandLoop& l, Rng&) -> Signal {
         return [&](std::int64_t t) { return l.sent(t - 544) + 0.03 * l.sent(t - 512); };
     },
     544, Verdict::Verified},
    {"floating input", 256, 2,
     [](const HandLoop&, Rng& rng) -> Signal {
         return [&](std::int64_t) { return uniform(rng, 0.5); };
     },
     std::nullopt, Verdict::NoResult},
    {"loud noise over the loop", 256, 2,
     [](const HandLoop& l, Rng& rng) -> Signal {
         return [&](std::int64_t t) { return l.sent(t - 544) + uniform(rng, 0.5); };
     },
     std::nullopt, Verdict::NoResult},
    {"DC at -6 dBFS", 256, 2,
     [](const HandLoop&, Rng&) -> Signal { return [](std::int64_t) { return 0.5; }; }, std::nullopt,
     Verdict::NoResult},
    {"hum at -6 dBFS over the loop", 256, 2,
     [](const HandLoop& l, Rng& rng) -> Signal {
         const double phase = uniform(rng, std::numbers::pi);
         return [&l, phase](std::int64_t t) {
             return l.sent(t - 544) +
                    0.5 * std::sin(2 * std::numbers::pi * 50 * t / 48000.0 + phase);
         };
     },
     std::nullopt, Verdict::NoResult},
    {"a pulse two buffers long", 256, 2,
     [](const HandLoop&, Rng&) -> Signal {
         return [](std::int64_t t) { return t >= 700 && t < 1212 ? 0.5 : 0.0; };
     },
     std::nullopt, Verdict::NoResult},
    {"a click", 256, 2,
     [](const HandLoop&, Rng&) -> Signal {
         return [](std::int64_t t) { return t == 700 ? 0.9 : 0.0; };
     },
     std::nullopt, Verdict::NoResult},
    {"on the -6 dB threshold, in noise", 256, 3,
     [](const HandLoop& l, Rng& rng) -> Signal {
         return [&](std::int64_t t) { return l.sent(t - 544) + uniform(rng, 0.001); };
     },
     544, Verdict::Doubtful, 5},
    {"3 dB over the -6 dB threshold", 256, 3,
     [](const HandLoop& l, Rng& rng) -> Signal {
         return [&](std::int64_t t) { return 1.41 * l.sent(t - 544) + uniform(rng, 0.001); };
     },
     544, Verdict::Verified},
};

TEST(ThresholdVerdict, HostileInputsNeverGiveAVerifiedWrongLatency) {
    for (const Hostile& c : kHostile) {
        for (std::uint32_t seed = 1; seed <= 8; ++seed) {
            SCOPED_TRACE(::testing::Message() << c.name << ", seed " << seed);
            HandLoop loop(c.frames);
            Rng rng(seed);
            loop.heard = c.heard(loop, rng);
            loop.measurement.setSensitivity(c.sensitivity);
            const MeasurementResult result = loop.measure();
            ASSERT_EQ(result.verdict.verdict, c.expected);
            EXPECT_EQ(result.latencySamples.has_value(), c.truth.has_value());
            if (result.latencySamples) {
                EXPECT_NEAR(*result.latencySamples, *c.truth, c.tolerance);
            }
            if (c.expected == Verdict::NoResult && result.threshold) {
                EXPECT_EQ(result.verdict.reasons.front().kind, VerdictReason::NotThePulse);
            }
        }
    }
}

} // namespace

namespace {

TEST(ThresholdVerdict, APulseFoundAtTheSecondSwitchIsSilencedAsAnyOther) {
    HandLoop loop(256); // a loop of one buffer, as one closed inside a JACK graph
    loop.heard = [&](std::int64_t t) { return loop.sent(t - 256); };
    const MeasurementResult result = loop.measure();
    EXPECT_EQ(result.latencySamples, 256);
    EXPECT_TRUE(result.verdict.verified());
    EXPECT_TRUE(std::all_of(loop.memory.begin() + 2, loop.memory.end(), silent));
}

TEST(DropoutWatch, LostOrRepeatedPeriodsMakeAResultDoubtful) {
    struct Case {
        const char* name;
        HandLoop::Tells tells;
        void (*disturb)(HandLoop& loop); // before the armed switch 2
        bool troubleAround = false;      // in a run before and after this one's end

        double latency;
        double periodsAmiss; // 0: verified
    };
    const Case cases[] = {
        {"nothing amiss", HandLoop::Tells::Position, [](HandLoop&) {}, true, 1064, 0},
        {"a period lost", HandLoop::Tells::Position, [](HandLoop& l) { l.losePeriod(); }, false,
         808, 1},
        {"a period repeated", HandLoop::Tells::Position, [](HandLoop& l) { l.repeatPeriod(); },
         false, 1320, 1},
        {"two periods lost, only times told", HandLoop::Tells::Time,
         [](HandLoop& l) {
             l.losePeriod();
             l.losePeriod();
         },
         false, 552, 2},
        {"an overload reported", HandLoop::Tells::Nothing,
         [](HandLoop& l) { l.measurement.noteDriverTrouble(); }, false, 1064, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HandLoop loop(256);
        loop.heard = [&](std::int64_t t) { return loop.sent(t - 1064); };
        if (c.troubleAround) {
            ASSERT_EQ(loop.measurement.arm(loop.stream), ArmRefusal::None);
            loop.measurement.noteDriverTrouble();
            loop.runToEnd();
            loop.played.clear();
            loop.switches = 0;
        }
        ASSERT_EQ(loop.measurement.arm(loop.stream), ArmRefusal::None);
        SwitchOutcome outcome = SwitchOutcome::Running;
        for (int k = 0; outcome == SwitchOutcome::Running; ++k) {
            if (k == 2) {
                c.disturb(loop);
            }
            outcome = loop.step(c.tells);
        }
        if (c.troubleAround) {
            loop.measurement.noteDriverTrouble();
        }
        const MeasurementResult result = loop.measurement.result();
        EXPECT_EQ(result.latencySamples, c.latency);
        if (c.periodsAmiss == 0) {
            EXPECT_TRUE(result.verdict.verified());
        } else {
            EXPECT_EQ(result.verdict.verdict, Verdict::Doubtful);
            // A repeated period may play the pulse twice: a second path besides.
            EXPECT_EQ(result.verdict.reasons.back(),
                      (VerdictReason{VerdictReason::Dropout, c.periodsAmiss}));
        }
    }
}

TEST(MeasurementChecks, WhatNoInterfaceReportsIsRefusedBeforeAnythingIsSizedOrTouched) {
    struct Case {
        double rate;
        std::int32_t frames;
        std::int32_t inputs;
        bool recordOutputs;
        ArmRefusal refusal;
    };
    const double nan = std::nan("");
    const Case cases[] = {
        {999.9, 256, 1, false, ArmRefusal::SampleRateOutOfRange},
        {1e6 + 1, 256, 1, false, ArmRefusal::SampleRateOutOfRange},
        {0, 256, 1, false, ArmRefusal::SampleRateOutOfRange},
        {nan, 256, 1, false, ArmRefusal::SampleRateOutOfRange},
        {HUGE_VAL, 256, 1, false, ArmRefusal::SampleRateOutOfRange},
        {48000, 0, 1, false, ArmRefusal::BufferSizeOutOfRange},
        {48000, kMaxBufferFrames + 1, 1, false, ArmRefusal::BufferSizeOutOfRange},
        {48000, 256, kMaxChannels + 1, false, ArmRefusal::TooManyChannels},
        {1e6, 256, 2048, false, ArmRefusal::RecordingTooLarge},
        {1e6, 256, 64, true, ArmRefusal::None},
        {1000, 1 << 20, 1, false, ArmRefusal::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.rate << " Hz, " << c.frames << " frames, " << c.inputs << " inputs");
        HandLoop loop(16);
        StreamSnapshot stream = loop.stream; // checked, never touched but for its first channels
        stream.frames = c.frames;
        stream.numInputs = stream.numOutputs = c.inputs;
        loop.measurement.setSampleRate(c.rate);
        loop.measurement.setRecording(c.recordOutputs);
        EXPECT_EQ(loop.measurement.check(stream), c.refusal);
        if (c.refusal != ArmRefusal::None) {
            EXPECT_EQ(loop.measurement.arm(stream), c.refusal);
            EXPECT_EQ(loop.step(), SwitchOutcome::Unarmed);
        }
    }
}

TEST(QuietStart, TheRunWaitsSilentlyForQuietInputsAndEndsWhenTheyNeverAre) {
    HandLoop loop(256);
    loop.measurement.setQuietStart(QuietStart{});
    // Loud until 0.1 s, then the loop alone over a DC offset, which is quiet.
    Rng rng(7);
    loop.heard = [&](std::int64_t t) {
        return (t < 4800 ? uniform(rng, 0.3) : 0) + 0.1 + loop.sent(t - 544);
    };
    for (int half = 0; half < 2; ++half) { // what the outputs held before: never played
        for (std::int32_t j = 0; j < loop.frames; ++j) {
            writeNormalised(loop.stream.output(0, half), j, 0.3, loop.layout);
        }
    }
    MeasurementResult result = loop.measure();
    EXPECT_EQ(result.latencySamples, 544);
    EXPECT_TRUE(result.verdict.verified());
    EXPECT_TRUE(std::all_of(loop.played.begin(), loop.played.begin() + 4800,
                            [](float v) { return v == 0; }));
    EXPECT_TRUE(
        std::any_of(loop.played.begin(), loop.played.end(), [](float v) { return v != 0; }));

    HandLoop noisy(256);
    noisy.measurement.setQuietStart(QuietStart{-50, 0.02, 0.5});
    noisy.heard = [&](std::int64_t) { return uniform(rng, 0.3); };
    result = noisy.measure();
    EXPECT_EQ(noisy.switches, 94); // 0.5 s
    ASSERT_EQ(result.verdict.verdict, Verdict::NoResult);
    ASSERT_EQ(result.verdict.reasons.size(), 1u);
    EXPECT_EQ(result.verdict.reasons[0].kind, VerdictReason::InputsNeverQuiet);
    EXPECT_NEAR(result.verdict.reasons[0].value, 20 * std::log10(0.3), 0.5);
    EXPECT_TRUE(
        std::all_of(noisy.played.begin(), noisy.played.end(), [](float v) { return v == 0; }));
}

TEST(SampleConversion, HugeOrNotFiniteValuesSaturate) {
    for (const ASIOSampleType type : {ASIOSTInt16LSB, ASIOSTInt24LSB, ASIOSTInt32LSB,
                                      ASIOSTInt32LSB20, ASIOSTFloat32LSB, ASIOSTFloat64LSB}) {
        SCOPED_TRACE(describeSampleType(type));
        const SampleLayout layout = layoutOf(type);
        const double top = layout.encoding == SampleEncoding::Integer
                               ? 1 - std::ldexp(1.0, 1 - layout.bits)
                           : layout.bytes == 4 ? std::numeric_limits<float>::max()
                                               : 1e308;
        const double bottom = layout.encoding == SampleEncoding::Integer ? -1 : -top;
        std::uint8_t sample[8];
        for (const auto& [value, expected] :
             {std::pair{1e308, top}, {-1e308, bottom}, {HUGE_VAL, top}, {std::nan(""), 0.0}}) {
            writeNormalised(sample, 0, value, layout);
            EXPECT_EQ(readNormalised(sample, 0, layout), expected == 1e308 ? value : expected)
                << value;
        }
        float read = 0;
        writeNormalised(sample, 0, -1e308, layout);
        readNormalisedBlock(sample, 1, layout, &read);
        EXPECT_EQ(read, layout.encoding == SampleEncoding::Integer
                            ? -1.0f
                            : -std::numeric_limits<float>::max());
    }
}

} // namespace
