// The pulse and the threshold in every supported sample format: the classic 16- and 32-bit
// values, and the same levels relative to full scale for the other widths.

#include "asio/sample_types.h"
#include "engine/sample_format.h"
#include "engine/sensitivity.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct FormatCase {
    ASIOSampleType type;
    std::int32_t pulse;         // as stored, for integer formats
    std::int32_t minus12Stored; // the "-12 dB" threshold as stored
};

class PulseSignal : public ::testing::TestWithParam<FormatCase> {};

TEST_P(PulseSignal, PulseFillsTheWholeHalfAtHalfOfFullScale) {
    const SampleLayout layout = layoutOf(GetParam().type);
    std::vector<std::uint8_t> half(static_cast<std::size_t>(layout.bytes) * 33, 0x55);
    writePulse(half.data(), 33, layout);
    for (int i = 0; i < 33; ++i) {
        ASSERT_EQ(readNormalised(half.data(), i, layout), 0.5) << i;
        if (layout.encoding == SampleEncoding::Integer) {
            ASSERT_EQ(readInteger(half.data() + i * layout.bytes, layout.bytes), GetParam().pulse);
        }
    }
}

TEST_P(PulseSignal, OnlySamplesStrictlyAboveTheThresholdCount) {
    const SampleLayout layout = layoutOf(GetParam().type);
    std::vector<std::uint8_t> half(static_cast<std::size_t>(layout.bytes) * 16, 0);
    const bool isFloat = layout.encoding == SampleEncoding::Float;
    const double threshold = isFloat ? 0.25 : std::ldexp(GetParam().minus12Stored, 1 - layout.bits);
    const double justAbove =
        isFloat ? (layout.bytes == 4 ? double{std::nextafter(float(threshold), 1.0f)}
                                     : std::nextafter(threshold, 1.0))
                : std::ldexp(GetParam().minus12Stored + 1, 1 - layout.bits);
    writeNormalised(half.data(), 3, threshold, layout);
    writeNormalised(half.data(), 5, -1.0, layout);
    EXPECT_EQ(findFirstAbove(half.data(), 16, layout, 0x20000000), -1);
    writeNormalised(half.data(), 9, justAbove, layout);
    writeNormalised(half.data(), 12, 0.9, layout);
    EXPECT_EQ(findFirstAbove(half.data(), 16, layout, 0x20000000), 9);
    EXPECT_EQ(findFirstAbove(half.data(), 9, layout, 0x20000000), -1); // stays inside the half
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, PulseSignal,
                         ::testing::Values(FormatCase{ASIOSTInt16LSB, 0x4000, 0x2000},
                                           FormatCase{ASIOSTInt24LSB, 0x400000, 0x200000},
                                           FormatCase{ASIOSTInt32LSB, 0x40000000, 0x20000000},
                                           FormatCase{ASIOSTInt32LSB16, 0x4000, 0x2000},
                                           FormatCase{ASIOSTInt32LSB18, 0x10000, 0x8000},
                                           FormatCase{ASIOSTInt32LSB20, 0x40000, 0x20000},
                                           FormatCase{ASIOSTInt32LSB24, 0x400000, 0x200000},
                                           FormatCase{ASIOSTFloat32LSB, 0, 0x20000000},
                                           FormatCase{ASIOSTFloat64LSB, 0, 0x20000000}),
                         [](const auto& param) {
                             return std::string(describeSampleType(param.param.type));
                         });

TEST(PulseSignalLevels, ThresholdTableAndItsSixteenBitShift) {
    EXPECT_EQ(thresholdForSensitivity(0), 0x08000000);
    EXPECT_EQ(thresholdForSensitivity(1), 0x10000000);
    EXPECT_EQ(thresholdForSensitivity(2), 0x20000000);
    EXPECT_EQ(thresholdForSensitivity(3), 0x40000000);
    EXPECT_EQ(thresholdForSensitivity(-1), 0x20000000);
    EXPECT_EQ(thresholdForSensitivity(4), 0x20000000);
    // The 16-bit format keeps the top half: 0x0800, 0x1000, 0x2000, 0x4000.
    std::int16_t samples[2] = {0x0800, 0x0801};
    EXPECT_EQ(findFirstAbove(samples, 2, layoutOf(ASIOSTInt16LSB), 0x08000000), 1);
}

TEST(PulseSignalLevels, UnityLoopAtMinusSixIsNotDetected) {
    std::int32_t samples[4] = {};
    writePulse(samples, 4, layoutOf(ASIOSTInt32LSB));
    EXPECT_EQ(findFirstAbove(samples, 4, layoutOf(ASIOSTInt32LSB), thresholdForSensitivity(3)), -1);
    EXPECT_EQ(findFirstAbove(samples, 4, layoutOf(ASIOSTInt32LSB), thresholdForSensitivity(2)), 0);
}

TEST(PulseSignalLevels, TwentyFourBitSamplesAreSignExtended) {
    const std::uint8_t negative[3] = {0x00, 0x00, 0x80}; // -2^23
    EXPECT_EQ(readInteger(negative, 3), -0x800000);
    EXPECT_EQ(findFirstAbove(negative, 1, layoutOf(ASIOSTInt24LSB), 0x08000000), -1);
}

} // namespace
