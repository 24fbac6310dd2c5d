// The buffer-switch callback driven by hand, one switch at a time, through the session's
// trampoline into its measurement, with the result posted as the session's event.

#include "asio/sample_types.h"
#include "engine/sample_format.h"
#include "session/hand_session.h"

#include <cmath>

namespace {

// A pulse of `level`, `frames` long, on `input` from stream sample `onset` on.
std::function<double(int, std::int64_t)> pulseOn(int input, std::int64_t onset, int frames,
                                                 double level) {
    return [=](int i, std::int64_t t) {
        return i == input && t >= onset && t < onset + frames ? level : 0.0;
    };
}

class EveryFormat : public ::testing::TestWithParam<ASIOSampleType> {};

TEST_P(EveryFormat, PulseSilenceStrictThresholdAndHalvesAsTheDriverSeesThem) {
    const SampleLayout layout = layoutOf(GetParam());
    const double lsb = layout.encoding == SampleEncoding::Integer ? std::ldexp(1.0, 1 - layout.bits)
                       : layout.bytes == 4 ? double{std::nextafter(0.25f, 1.0f)} - 0.25
                                           : std::nextafter(0.25, 1.0) - 0.25;
    HandSession hand(2, 2, 16, 48000, GetParam());
    // Every sample silent from `first` channel on, but for the pulse on half 1 of the outputs.
    const auto expectSilenceFrom = [&](int first, double pulse) {
        for (int c = first; c < 4; ++c) {
            for (int h = 0; h < 2; ++h) {
                for (int i = 0; i < 16; ++i) {
                    ASSERT_EQ(readNormalised(hand.driver.half(c, h), i, layout),
                              c >= 2 && h == 1 ? pulse : 0.0)
                        << "channel " << c << " half " << h << " sample " << i;
                }
            }
        }
    };
    const auto untouched = hand.driver.memory;
    hand.driverSwitch();
    ASSERT_EQ(hand.session->arm(), ArmRefusal::None);
    EXPECT_EQ(hand.driver.memory, untouched); // the driver's buffers until the first armed switch
    EXPECT_EQ(hand.driver.outputReadyCalls, 0);

    // Input 1 hears a pulse exactly at the -12 dB threshold, then an inverted one: neither is
    // above it. At the next switch input 0 crosses it by one step, later in its half than input 1
    // does, but input 0 is scanned first. (Stream samples count from the unarmed switch.)
    hand.heard = [&](int input, std::int64_t t) {
        if (input == 1) {
            return t >= 32 && t < 40   ? 0.25
                   : t >= 40 && t < 48 ? -1.0
                   : t >= 50 && t < 66 ? 0.25 + lsb
                                       : 0.0;
        }
        return t >= 57 && t < 73 ? 0.25 + lsb : 0.0;
    };
    hand.driverSwitch(); // switch 0: all silent, the pulse on each output's half
    expectSilenceFrom(2, 0.5);
    hand.driverSwitch();
    ASSERT_TRUE(hand.session->measurement().armed());
    hand.driverSwitch(); // switch 2: the crossing, and the pulse's half comes round and is silenced
    expectSilenceFrom(2, 0.0);
    // The run goes on until the input after the crossing is recorded (the pulse, and as long
    // again, at least kQuietAfterPulse, for a second path); the outputs stay silent.
    EXPECT_EQ(hand.switchesUntilEnded(30), 18);
    EXPECT_TRUE(hand.outputsSilent());
    EXPECT_EQ(hand.postedResults(), 1);
    const std::optional<MeasurementResult> result = hand.session->collectResult();
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->latencySamples, 2 * 16 + 9);
    EXPECT_EQ(result->threshold->input, 0);
    EXPECT_EQ(result->verdict.verdict, Verdict::Doubtful); // on the threshold
    EXPECT_EQ(hand.driver.outputReadyCalls, 21);
}

INSTANTIATE_TEST_SUITE_P(Supported, EveryFormat,
                         ::testing::Values(ASIOSTInt16LSB, ASIOSTInt24LSB, ASIOSTInt32LSB,
                                           ASIOSTInt32LSB16, ASIOSTInt32LSB18, ASIOSTInt32LSB20,
                                           ASIOSTInt32LSB24, ASIOSTFloat32LSB, ASIOSTFloat64LSB),
                         [](const auto& param) { return describeSampleType(param.param); });

TEST(Detection, NothingFoundEndsAfterOneSecondOfSamplesAtTheRateTruncatedAndPlaysNoMore) {
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
        HandSession hand(1, 1, c.frames, c.rate);
        ASSERT_EQ(hand.session->arm(), ArmRefusal::None);
        ASSERT_EQ(hand.switchesUntilEnded(1000), c.switches);
        EXPECT_EQ(hand.driver.outputReadyCalls, c.switches);
        EXPECT_EQ(hand.postedResults(), 1);
        EXPECT_FALSE(hand.session->collectResult()->latencySamples.has_value());
        EXPECT_TRUE(hand.outputsSilent());
    }
}

TEST(Detection, APulseInTheLastSampleBeforeTheLimitIsStillFoundAndPostedOnce) {
    HandSession hand(1, 1, 256, 48000);
    hand.heard = pulseOn(0, 187 * 256 + 255, 256, 0.5); // switch 187 finds it at the limit
    ASSERT_EQ(hand.session->arm(), ArmRefusal::None);
    EXPECT_EQ(hand.switchesUntilEnded(300), 191);
    EXPECT_EQ(hand.postedResults(), 1);
    EXPECT_EQ(hand.session->collectResult()->latencySamples, 187 * 256 + 255);
}

TEST(Detection, AStreamItCannotMeasureIsRefusedAndNoBufferIsTouched) {
    struct Case {
        int inputs;
        int outputs;
        ASIOSampleType type;
        double rate;
        ArmRefusal refusal;
    };
    for (const Case c : {Case{1, 0, ASIOSTInt32LSB, 48000, ArmRefusal::NoOutputChannel},
                         Case{0, 1, ASIOSTInt32LSB, 48000, ArmRefusal::NoInputChannel},
                         Case{1, 1, ASIOSTInt32MSB, 48000, ArmRefusal::UnsupportedFormat},
                         Case{1, 1, 31, 48000, ArmRefusal::UnsupportedFormat},
                         Case{1, 1, ASIOSTInt32LSB, 0, ArmRefusal::SampleRateOutOfRange}}) {
        HandSession hand(c.inputs, c.outputs, 16, c.rate, c.type);
        const auto untouched = hand.driver.memory;
        EXPECT_EQ(hand.session->arm(), c.refusal);
        BufferSwitchCallback(0, ASIOTrue);
        BufferSwitchCallback(1, ASIOTrue);
        EXPECT_EQ(hand.driver.memory, untouched);
        EXPECT_EQ(hand.driver.outputReadyCalls, 0);
        EXPECT_EQ(hand.session->state(), SessionState::Running);
    }
}

TEST(Detection, AResultThatARearmOvertookIsNotCollected) {
    HandSession hand(1, 1, 16, 48000);
    hand.heard = pulseOn(0, 16, 16, 0.5);
    ASSERT_EQ(hand.session->arm(), ArmRefusal::None);
    ASSERT_GT(hand.switchesUntilEnded(40), 0); // ends and posts its result
    ASSERT_EQ(hand.postedResults(), 1);
    ASSERT_EQ(hand.session->arm(), ArmRefusal::None); // before the result was collected
    EXPECT_FALSE(hand.session->collectResult().has_value());
    EXPECT_EQ(hand.session->state(), SessionState::Armed);
}

} // namespace
