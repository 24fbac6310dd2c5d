// The buffer-switch callback driven by hand, one switch at a time, with the result travelling
// through the dialog's real post queue and modal loop to the status box.

#include "asio/sample_types.h"
#include "engine/dialog_fixture.h"
#include "engine/hand_loop.h"
#include "engine/sample_format.h"
#include "support/fake_driver.h"

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

class Detection : public ::testing::Test {
protected:
    void SetUp() override { headless::ResetEnvironment(); }

    void prepare(int inputs, int outputs, int size, double rate,
                 ASIOSampleType type = ASIOSTInt32LSB) {
        armed.reset(); // one dialog at a time, as in the program
        driver.outputReadyCalls = 0;
        armed = std::make_unique<ArmedDialog>(&driver, inputs, outputs, size, rate, type);
        frames = size;
        switches = 0;
    }
    CTarveloDlg& dlg() { return *armed->dlg; }
    // The driver's next switch, its inputs filled from `heard` (input, stream sample) when set.
    void driverSwitch() {
        const int half = switches % 2;
        for (int i = 0; heard && i < dlg().m_numInputs; ++i) {
            for (int j = 0; j < frames; ++j) {
                writeNormalised(armed->half(i, half), j, heard(i, switches * frames + j),
                                dlg().m_sampleLayout);
            }
        }
        BufferSwitchCallback(half, ASIOTrue);
        ++switches;
    }
    // Switches until the measurement ends: how many ran, or -1.
    int switchesUntilEnded(int limit) {
        for (int k = 0; k < limit; ++k) {
            driverSwitch();
            if (!dlg().m_measurement.armed()) {
                return k + 1;
            }
        }
        return -1;
    }
    std::string status() {
        headless::SurfaceOf(dlg())->pumpPending();
        return dlg().GetDlgItem(ctl::kStatus)->GetWindowText();
    }
    bool outputsSilent() {
        return std::all_of(armed->memory.begin() + 2 * dlg().m_numInputs, armed->memory.end(),
                           silent);
    }
    FakeDriver driver;
    std::unique_ptr<ArmedDialog> armed;
    int frames = 0;
    int switches = 0;
    std::function<double(int, std::int64_t)> heard;
};

// A pulse of `level`, `frames` long, from stream sample `onset` on.
std::function<double(int, std::int64_t)> pulseOn(int input, std::int64_t onset, int frames,
                                                 double level) {
    return [=](int i, std::int64_t t) {
        return i == input && t >= onset && t < onset + frames ? level : 0.0;
    };
}

class EveryFormat : public Detection, public ::testing::WithParamInterface<ASIOSampleType> {};

TEST_P(EveryFormat, PulseSilenceStrictThresholdAndHalvesAsTheDriverSeesThem) {
    const SampleLayout layout = layoutOf(GetParam());
    const double lsb = layout.encoding == SampleEncoding::Integer ? std::ldexp(1.0, 1 - layout.bits)
                       : layout.bytes == 4 ? double{std::nextafter(0.25f, 1.0f)} - 0.25
                                           : std::nextafter(0.25, 1.0) - 0.25;
    // Every sample silent from `first` channel on, but for the pulse on half 1 of the outputs.
    const auto expectSilenceFrom = [&](int first, double pulse) {
        for (int c = first; c < 4; ++c) {
            for (int h = 0; h < 2; ++h) {
                for (int i = 0; i < 16; ++i) {
                    ASSERT_EQ(readNormalised(armed->half(c, h), i, layout),
                              c >= 2 && h == 1 ? pulse : 0.0)
                        << "channel " << c << " half " << h << " sample " << i;
                }
            }
        }
    };
    prepare(2, 2, 16, 48000, GetParam());
    const auto untouched = armed->memory;
    driverSwitch();
    armed->arm();
    EXPECT_EQ(armed->memory, untouched); // the driver's buffers until the first armed switch
    EXPECT_EQ(driver.outputReadyCalls, 0);

    // Input 1 hears a pulse exactly at the -12 dB threshold, then an inverted one: neither is
    // above it. At the next switch input 0 crosses it by one step, later in its half than input 1
    // does, but input 0 is scanned first. (Stream samples count from the unarmed switch.)
    heard = [&](int input, std::int64_t t) {
        if (input == 1) {
            return t >= 32 && t < 40   ? 0.25
                   : t >= 40 && t < 48 ? -1.0
                   : t >= 50 && t < 66 ? 0.25 + lsb
                                       : 0.0;
        }
        return t >= 57 && t < 73 ? 0.25 + lsb : 0.0;
    };
    driverSwitch(); // switch 0: all silent, the pulse on each output's half
    expectSilenceFrom(2, 0.5);
    driverSwitch();
    ASSERT_TRUE(dlg().m_measurement.armed());
    driverSwitch(); // switch 2: the crossing, and the pulse's half comes round and is silenced
    expectSilenceFrom(2, 0.0);
    // The run goes on until the input after the crossing is recorded; the outputs stay silent.
    EXPECT_EQ(switchesUntilEnded(10), 2);
    EXPECT_TRUE(outputsSilent());
    status();
    ASSERT_TRUE(dlg().m_lastResult.has_value());
    EXPECT_EQ(dlg().m_lastResult->latencySamples, 2 * 16 + 9);
    EXPECT_EQ(dlg().m_lastResult->threshold->input, 0);
    EXPECT_EQ(dlg().m_lastResult->verdict.verdict, Verdict::Doubtful); // on the threshold
    EXPECT_EQ(driver.outputReadyCalls, 5);
}

INSTANTIATE_TEST_SUITE_P(Supported, EveryFormat,
                         ::testing::Values(ASIOSTInt16LSB, ASIOSTInt24LSB, ASIOSTInt32LSB,
                                           ASIOSTInt32LSB16, ASIOSTInt32LSB18, ASIOSTInt32LSB20,
                                           ASIOSTInt32LSB24, ASIOSTFloat32LSB, ASIOSTFloat64LSB),
                         [](const auto& param) { return describeSampleType(param.param); });

TEST_F(Detection, NothingFoundEndsAfterOneSecondOfSamplesAtTheRateTruncatedAndPlaysNoMore) {
    struct Case {
        int frames;
        double rate;
        int switches;
    };
    // 1500 frames reach the limit at switch 1, and the pulse's half is silenced at switch 2; a
    // buffer longer than a second is never sent a pulse.
    for (const Case c : {Case{256, 48000, 188}, Case{2001, 2000.9, 1}, Case{667, 2000.9, 3},
                         Case{1500, 2000.9, 3}}) {
        SCOPED_TRACE(::testing::Message() << c.frames << " frames at " << c.rate << " Hz");
        prepare(1, 1, c.frames, c.rate);
        armed->arm();
        ASSERT_EQ(switchesUntilEnded(1000), c.switches);
        EXPECT_EQ(driver.outputReadyCalls, c.switches);
        EXPECT_EQ(status(), "Can not measure the latency.\r\nPlease check your connections "
                            "and\r\nverify if input/output levels match");
        EXPECT_TRUE(outputsSilent());
    }
}

TEST_F(Detection, APulseInTheLastSampleBeforeTheLimitIsStillFound) {
    prepare(1, 1, 256, 48000);
    heard = pulseOn(0, 187 * 256 + 255, 256, 0.5); // switch 187 finds it and reaches the limit
    armed->arm();
    EXPECT_EQ(switchesUntilEnded(300), 190);
    EXPECT_EQ(status(), "Measurement results: 48127 samples / 1002.65 ms");
    EXPECT_EQ(headless::SurfaceOf(dlg())->pumpPending(), 0); // one result only
}

TEST_F(Detection, AStreamItCannotMeasureIsReportedAndNoBufferIsTouched) {
    struct Case {
        int inputs;
        int outputs;
        ASIOSampleType type;
        double rate;
        const char* status;
    };
    const Case cases[] = {
        {1, 0, ASIOSTInt32LSB, 48000,
         "Can not measure the latency.\r\nThe driver has no output channel"},
        {0, 1, ASIOSTInt32LSB, 48000,
         "Can not measure the latency.\r\nThe driver has no input channel"},
        {1, 1, ASIOSTInt32MSB, 48000,
         "Can not measure the latency.\r\nThe driver's sample format Int32MSB\r\nis not supported"},
        {1, 1, 31, 48000,
         "Can not measure the latency.\r\nThe driver's sample format (type 31)\r\nis not "
         "supported"},
        {1, 1, ASIOSTInt32LSB, 0,
         "Can not measure the latency.\r\nThe driver's sample rate is not\r\nbetween 1 kHz and "
         "1 MHz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        prepare(c.inputs, c.outputs, 16, c.rate, c.type);
        const auto untouched = armed->memory;
        armed->arm();
        BufferSwitchCallback(0, ASIOTrue);
        BufferSwitchCallback(1, ASIOTrue);
        EXPECT_EQ(armed->memory, untouched);
        EXPECT_FALSE(dlg().m_measurement.armed());
        EXPECT_EQ(status(), c.status);
        EXPECT_TRUE(dlg().GetDlgItem(ctl::kMeasureLatency)->IsWindowEnabled());
    }
}

TEST_F(Detection, AResultThatARearmOvertookIsNotShown) {
    prepare(1, 1, 16, 48000);
    heard = pulseOn(0, 16, 16, 0.5);
    armed->arm();
    ASSERT_GT(switchesUntilEnded(10), 0); // ends and posts its result
    armed->arm();                         // before the result was handled
    EXPECT_EQ(status(), "Measuring... Please wait");
    EXPECT_TRUE(dlg().m_measurement.armed());
    EXPECT_FALSE(dlg().m_lastResult.has_value());
}

} // namespace

// The measurement itself, driven by hand through a loop of the test's (engine/hand_loop.h).
namespace {

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
            EXPECT_EQ(result.verdict.reasons,
                      (std::vector<VerdictReason>{{VerdictReason::Dropout, c.periodsAmiss}}));
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
