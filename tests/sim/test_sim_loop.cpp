// The simulated cables: when a written signal comes back, and how it has changed on the way.

#include "asio/sample_types.h"
#include "sim/sim_test_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>

namespace {

constexpr double kPulse = 0.5;      // 0x40000000 in Int32LSB, half of full scale
constexpr double kThreshold = 0.25; // 0x20000000, the detector's default threshold
constexpr std::int32_t kPulseInt32 = 0x40000000;

std::int32_t int32At(const std::vector<std::byte>& bytes, std::int64_t n) {
    std::int32_t value = 0;
    std::memcpy(&value, bytes.data() + n * 4, 4);
    return value;
}

// A host that writes one buffer of `levels[o]` to output slot o at switch 0 and silence after.
std::unique_ptr<SimTestHost> runPulses(LoopbackSimulator& sim, ASIOLong bufferSize, int switches,
                                       const std::vector<double>& levels, HostChannels channels) {
    auto host = std::make_unique<SimTestHost>(sim, bufferSize, switches, std::move(channels));
    for (std::size_t o = 0; o < levels.size(); ++o) {
        host->setOutputSignal(o,
                              std::vector<double>(static_cast<std::size_t>(bufferSize), levels[o]));
    }
    EXPECT_TRUE(host->run());
    return host;
}

std::unique_ptr<SimTestHost> runPulses(LoopbackSimulator& sim, ASIOLong bufferSize, int switches,
                                       const std::vector<double>& levels) {
    return runPulses(sim, bufferSize, switches, levels, HostChannels::all(sim.settings()));
}

bool isSilent(const std::vector<std::byte>& bytes) {
    for (const std::byte b : bytes) {
        if (b != std::byte{0}) {
            return false;
        }
    }
    return true;
}

struct LoopCase {
    ASIOLong bufferSize;
    int delay;
};

class PulseRoundTrip : public ::testing::TestWithParam<LoopCase> {};

TEST_P(PulseRoundTrip, ComesBackWholeAfterTwoBuffersPlusTheDelay) {
    const auto [bufferSize, delay] = GetParam();
    auto sim = makeSim("delay=" + std::to_string(delay));
    ASSERT_TRUE(sim);
    const int switches = 5 + delay / bufferSize;
    const auto host = runPulses(*sim, bufferSize, switches, {kPulse, kPulse});

    const std::int64_t latency = 2 * bufferSize + delay;
    for (std::size_t input = 0; input < 2; ++input) {
        EXPECT_EQ(host->firstAbove(input, kThreshold), latency) << "input " << input;
        // First seen at switch 2 + L div B, position L mod B; exactly one buffer of pulse.
        for (std::int64_t n = 0; n < std::int64_t{switches} * bufferSize; ++n) {
            const bool inPulse = n >= latency && n < latency + bufferSize;
            ASSERT_EQ(int32At(host->inputBytes(input), n), inPulse ? kPulseInt32 : 0)
                << "input " << input << " sample " << n;
        }
    }
    EXPECT_EQ(sim->switchCount(), switches);
    EXPECT_EQ(sim->outputReadyCount(), switches);
    for (int k = 0; k < switches; ++k) {
        EXPECT_EQ(host->halvesSeen()[static_cast<std::size_t>(k)], k % 2) << "switch " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(BufferSizesAndDelays, PulseRoundTrip,
                         ::testing::Values(LoopCase{32, 0}, LoopCase{64, 32}, LoopCase{256, 32},
                                           LoopCase{256, 255}, LoopCase{128, 128},
                                           LoopCase{256, 300}, LoopCase{32, 1000},
                                           LoopCase{2048, 0}),
                         [](const ::testing::TestParamInfo<LoopCase>& param) {
                             return "B" + std::to_string(param.param.bufferSize) + "_L" +
                                    std::to_string(param.param.delay);
                         });

TEST(SimLoop, AHalfTheHostLeavesAlonePlaysAgainEveryOtherPeriod) {
    auto sim = makeSim("delay=10");
    ASSERT_TRUE(sim);
    constexpr ASIOLong B = 64;
    SimTestHost host(*sim, B, 8, HostChannels::all(sim->settings()));
    host.rewriteEverySwitch = false; // the pulse stays in half 0
    host.setOutputSignal(0, std::vector<double>(B, kPulse));
    ASSERT_TRUE(host.run());
    for (std::int64_t n = 0; n < 8 * B; ++n) {
        // Heard at n: played during period (n - B - 10) div B; half 0 plays the odd periods.
        const bool pulse = n >= 2 * B + 10 && ((n - B - 10) / B) % 2 == 1;
        ASSERT_EQ(int32At(host.inputBytes(0), n), pulse ? kPulseInt32 : 0) << "sample " << n;
    }
}

TEST(SimLoop, EveryLsbTypeComesBackByteForByteAtUnityGain) {
    constexpr std::array kTypes{ASIOSTInt16LSB,   ASIOSTInt24LSB,   ASIOSTInt32LSB,
                                ASIOSTFloat32LSB, ASIOSTFloat64LSB, ASIOSTInt32LSB16,
                                ASIOSTInt32LSB18, ASIOSTInt32LSB20, ASIOSTInt32LSB24};
    constexpr ASIOLong B = 64;
    constexpr int kDelay = 40;
    for (const ASIOSampleType type : kTypes) {
        SCOPED_TRACE(describeSampleType(type));
        auto sim = makeSim("type=" + std::string(describeSampleType(type)) +
                           ",delay=" + std::to_string(kDelay));
        ASSERT_TRUE(sim);
        const SampleLayout layout = layoutOf(type);
        // Two buffers of distinct values spread over the whole range, both extremes included.
        std::vector<double> signal(2 * B);
        for (std::size_t n = 0; n < signal.size(); ++n) {
            if (layout.encoding == SampleEncoding::Float) {
                signal[n] = 0.99 * std::sin(0.37 * static_cast<double>(n));
            } else {
                const std::int64_t codes = std::int64_t{1} << layout.bits;
                const std::int64_t code = static_cast<std::int64_t>(n * 2654435761u) % codes;
                signal[n] = std::ldexp(static_cast<double>(code - codes / 2), 1 - layout.bits);
            }
        }
        signal[0] = -1.0;
        signal[1] = 1.0; // clamps to the largest code
        SimTestHost host(*sim, B, 6, HostChannels::all(sim->settings()));
        host.setOutputSignal(0, signal);
        ASSERT_TRUE(host.run());
        const auto bytes = static_cast<std::size_t>(layout.bytes);
        for (std::size_t n = 0; n < signal.size(); ++n) {
            const std::size_t heard = n + 2 * B + kDelay;
            ASSERT_EQ(std::memcmp(host.inputBytes(0).data() + heard * bytes,
                                  host.outputBytes(0).data() + n * bytes, bytes),
                      0)
                << "sample " << n;
        }
        EXPECT_EQ(host.inputSample(0, 2 * B + kDelay), -1.0);
        EXPECT_EQ(host.inputSample(0, 2 * B + kDelay + 1),
                  layout.encoding == SampleEncoding::Float
                      ? 1.0
                      : 1.0 - std::ldexp(1.0, 1 - layout.bits));
    }
}

TEST(SimLoop, GainScalesTheReturningSignal) {
    constexpr double kGainDb = -6.0;
    auto sim = makeSim("gain=-6,delay=5");
    ASSERT_TRUE(sim);
    constexpr ASIOLong B = 32;
    const auto host = runPulses(*sim, B, 5, {kPulse});
    const double expected = kPulse * std::pow(10.0, kGainDb / 20.0);
    EXPECT_NEAR(host->inputSample(0, 2 * B + 5), expected, std::ldexp(1.0, -31));
    EXPECT_NEAR(host->inputSample(0, 3 * B + 4), expected, std::ldexp(1.0, -31));
    EXPECT_EQ(host->inputSample(0, 3 * B + 5), 0.0);
}

TEST(SimLoop, InvertedPolarityNegatesThePulseSoItNeverCrossesAPositiveThreshold) {
    auto sim = makeSim("invert=1");
    ASSERT_TRUE(sim);
    constexpr ASIOLong B = 64;
    const auto host = runPulses(*sim, B, 6, {kPulse, kPulse});
    EXPECT_EQ(int32At(host->inputBytes(0), 2 * B + 32), -kPulseInt32);
    EXPECT_EQ(int32At(host->inputBytes(0), 2 * B + 31), 0);
    EXPECT_EQ(host->firstAbove(0, kThreshold), -1);
    EXPECT_EQ(host->firstAbove(1, kThreshold), -1);
}

TEST(SimLoop, InvertedSilenceStaysPositiveZeroInFloatFormats) {
    auto sim = makeSim("invert=1,type=Float32LSB,delay=0");
    ASSERT_TRUE(sim);
    constexpr ASIOLong B = 32;
    const auto host = runPulses(*sim, B, 4, {kPulse});
    const auto& bytes = host->inputBytes(0);
    EXPECT_EQ(host->inputSample(0, 2 * B), -kPulse);
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.begin() + 2 * B * 4,
                            [](std::byte b) { return b == std::byte{0}; }));
    EXPECT_TRUE(std::all_of(bytes.begin() + 3 * B * 4, bytes.end(),
                            [](std::byte b) { return b == std::byte{0}; }));
}

TEST(SimLoop, RoutingDecidesWhichOutputEachInputHears) {
    constexpr ASIOLong B = 32;
    constexpr std::int64_t kLatency = 2 * B + 32;
    struct Case {
        const char* what;
        const char* settings;
        std::vector<double> levels;               // per output
        std::vector<std::optional<double>> heard; // per input; none: silence throughout
    };
    const Case cases[] = {
        {"crossed cables", "route=0>1:1>0", {kPulse, -0.25}, {-0.25, kPulse}},
        {"one output split to both inputs", "route=0>0:1>0", {kPulse, -0.25}, {kPulse, kPulse}},
        {"input 1 without a cable", "route=0>0:1>-", {kPulse, kPulse}, {kPulse, std::nullopt}},
        {"no cable at all", "cable=off", {kPulse, kPulse}, {std::nullopt, std::nullopt}},
        {"an input past the outputs has no cable",
         "inputs=3,outputs=2",
         {kPulse, -0.25},
         {kPulse, -0.25, std::nullopt}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto sim = makeSim(c.settings);
        ASSERT_TRUE(sim);
        const auto host = runPulses(*sim, B, 5, c.levels);
        for (std::size_t input = 0; input < c.heard.size(); ++input) {
            if (c.heard[input]) {
                EXPECT_EQ(host->inputSample(input, kLatency - 1), 0.0) << "input " << input;
                EXPECT_EQ(host->inputSample(input, kLatency), *c.heard[input]) << "input " << input;
            } else {
                EXPECT_TRUE(isSilent(host->inputBytes(input))) << "input " << input;
            }
        }
    }
}

TEST(SimLoop, AnOutputWithoutBuffersPlaysNothing) {
    auto sim = makeSim("");
    ASSERT_TRUE(sim);
    const auto host = runPulses(*sim, 32, 5, {kPulse}, HostChannels{{0, 1}, {0}});
    EXPECT_EQ(host->firstAbove(0, kThreshold), 2 * 32 + 32);
    EXPECT_TRUE(isSilent(host->inputBytes(1)));
}

TEST(SimLoop, NoiseIsBoundedByItsLevelAndRepeatsWithItsSeed) {
    constexpr ASIOLong B = 64;
    const auto record = [](LoopbackSimulator& sim) {
        SimTestHost host(sim, B, 4, HostChannels::all(sim.settings()));
        EXPECT_TRUE(host.run());
        return host.inputBytes(0);
    };
    auto sim = makeSim("noise=-40,seed=7,cable=off");
    ASSERT_TRUE(sim);
    const std::vector<std::byte> first = record(*sim);
    const SampleLayout layout = layoutOf(ASIOSTInt32LSB);
    double largest = 0;
    int nonZero = 0;
    for (std::int64_t n = 0; n < 4 * B; ++n) {
        const double value = readNormalised(first.data(), static_cast<int>(n), layout);
        largest = std::max(largest, std::abs(value));
        nonZero += value != 0.0 ? 1 : 0;
    }
    EXPECT_LE(largest, 0.01 + std::ldexp(1.0, -31));
    EXPECT_GT(largest, 0.005);
    EXPECT_GT(nonZero, 4 * B - 4);

    EXPECT_EQ(record(*sim), first) << "a new start restarts the noise";
    auto twin = makeSim("noise=-40,seed=7,cable=off");
    ASSERT_TRUE(twin);
    EXPECT_EQ(record(*twin), first) << "the same seed gives the same noise";
    auto other = makeSim("noise=-40,seed=8,cable=off");
    ASSERT_TRUE(other);
    EXPECT_NE(record(*other), first);
}

TEST(SimLoop, NoiseRidesOnTheLoopedSignal) {
    auto sim = makeSim("noise=-60");
    ASSERT_TRUE(sim);
    const auto host = runPulses(*sim, 32, 5, {kPulse, kPulse});
    EXPECT_NEAR(host->inputSample(0, 2 * 32 + 32), kPulse, 0.001);
    EXPECT_NE(host->inputSample(0, 2 * 32 + 32), kPulse);
    EXPECT_EQ(host->firstAbove(0, kThreshold), 2 * 32 + 32);
}

} // namespace
