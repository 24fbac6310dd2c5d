// The buffer-switch callback driven by hand, one switch at a time, through the session's
// trampoline into its measurement, with the result posted as the session's event.

#include "asio/sample_types.h"
#include "engine/sample_format.h"
#include "session/hand_session.h"

#include <cmath>

namespace {

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
    BufferSwitchCallback(0, ASIOTrue);
    ASSERT_EQ(hand.session->arm(), ArmRefusal::None);
    EXPECT_EQ(hand.driver.memory, untouched); // the driver's buffers until the first armed switch
    EXPECT_EQ(hand.driver.outputReadyCalls, 0);

    BufferSwitchCallback(1, ASIOTrue); // switch 0: all silent, the pulse on each output's half
    expectSilenceFrom(0, 0.5);
    writeNormalised(hand.driver.half(0, 0), 3, 0.25, layout); // the -12 dB threshold: not above
    writeNormalised(hand.driver.half(0, 0), 5, -1.0, layout);
    BufferSwitchCallback(0, ASIOTrue);
    ASSERT_TRUE(hand.session->measurement().armed());

    writeNormalised(hand.driver.half(1, 1), 2, 0.25 + lsb, layout); // earlier in its half, but
    writeNormalised(hand.driver.half(0, 1), 9, 0.25 + lsb, layout); // input 0 is scanned first
    BufferSwitchCallback(1, ASIOTrue); // switch 2: the pulse's half comes round and is silenced
    ASSERT_FALSE(hand.session->measurement().armed());
    expectSilenceFrom(2, 0.0);
    EXPECT_EQ(hand.postedResults(), 1);
    const std::optional<MeasurementResult> result = hand.session->collectResult();
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->latencySamples, 2 * 16 + 9);
    EXPECT_EQ(result->threshold->input, 0);
    EXPECT_EQ(hand.driver.outputReadyCalls, 3);
}

INSTANTIATE_TEST_SUITE_P(Supported, EveryFormat,
                         ::testing::Values(ASIOSTInt16LSB, ASIOSTInt24LSB, ASIOSTInt32LSB,
                                           ASIOSTInt32LSB16, ASIOSTInt32LSB18, ASIOSTInt32LSB20,
                                           ASIOSTInt32LSB24, ASIOSTFloat32LSB, ASIOSTFloat64LSB),
                         [](const auto& param) { return describeSampleType(param.param); });

TEST(Detection, NothingFoundEndsAfterOneSecondOfSamplesAtTheRateTruncated) {
    struct Case {
        int frames;
        double rate;
        int switches; // -1: not within 1000
    };
    for (const Case c :
         {Case{256, 48000, 188}, Case{2001, 2000.9, 1}, Case{667, 2000.9, 3}, Case{64, 0, 1},
          Case{64, -1, 1}, Case{64, std::nan(""), 1}, Case{64, 1e300, -1}}) {
        SCOPED_TRACE(::testing::Message() << c.frames << " frames at " << c.rate << " Hz");
        HandSession hand(1, 1, c.frames, c.rate);
        ASSERT_EQ(hand.session->arm(), ArmRefusal::None);
        ASSERT_EQ(hand.switchesUntilEnded(1000), c.switches);
        if (c.switches > 0) {
            EXPECT_EQ(hand.driver.outputReadyCalls, c.switches);
            EXPECT_EQ(hand.postedResults(), 1);
            EXPECT_FALSE(hand.session->collectResult()->latencySamples.has_value());
        }
    }
}

TEST(Detection, APulseInTheLastSampleBeforeTheLimitIsStillFoundAndPostedOnce) {
    HandSession hand(1, 1, 256, 48000);
    ASSERT_EQ(hand.session->arm(), ArmRefusal::None);
    ASSERT_EQ(hand.switchesUntilEnded(187), -1);
    writeNormalised(hand.driver.half(0, 1), 255, 0.5, layoutOf(ASIOSTInt32LSB));
    BufferSwitchCallback(1, ASIOTrue); // switch 187 finds it and reaches the limit
    EXPECT_EQ(hand.postedResults(), 1);
    EXPECT_EQ(hand.session->collectResult()->latencySamples, 187 * 256 + 255);
}

TEST(Detection, AStreamItCannotMeasureIsRefusedAndNoBufferIsTouched) {
    struct Case {
        int inputs;
        int outputs;
        ASIOSampleType type;
        ArmRefusal refusal;
    };
    for (const Case c : {Case{1, 0, ASIOSTInt32LSB, ArmRefusal::NoOutputChannel},
                         Case{0, 1, ASIOSTInt32LSB, ArmRefusal::NoInputChannel},
                         Case{1, 1, ASIOSTInt32MSB, ArmRefusal::UnsupportedFormat},
                         Case{1, 1, 31, ArmRefusal::UnsupportedFormat}}) {
        HandSession hand(c.inputs, c.outputs, 16, 48000, c.type);
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
    ASSERT_EQ(hand.session->arm(), ArmRefusal::None);
    BufferSwitchCallback(0, ASIOTrue);
    writeNormalised(hand.driver.half(0, 1), 0, 0.5, layoutOf(ASIOSTInt32LSB));
    BufferSwitchCallback(1, ASIOTrue); // ends and posts its result
    ASSERT_EQ(hand.postedResults(), 1);
    ASSERT_EQ(hand.session->arm(), ArmRefusal::None); // before the result was collected
    EXPECT_FALSE(hand.session->collectResult().has_value());
    EXPECT_EQ(hand.session->state(), SessionState::Armed);
}

} // namespace
