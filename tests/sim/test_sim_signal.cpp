// What the loopback simulator's inputs hear, through a host of the tests' own on the simulator's
// thread: each model against the time model of loopback_sim.h, sample-exact where the model is
// exact. A host writes at host time T = k B + i (switch k); it plays B later, so a path of delay
// d(t) brings it to an input at time t = T + B + d(t), which the host reads at t + B.

#include "sim/sim_host.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <set>

namespace {

using ::testing::DoubleNear;
using ::testing::HasSubstr;
using ::testing::Pointwise;

constexpr double kPulse = 0.5;
// Gains in dB become factors through std::pow, which not every C library rounds alike.
constexpr double kGainRounding = 1e-15;

// Impulses of kPulse at the given host times, per output.
SimHost::Stimulus impulses(std::map<int, std::set<std::int64_t>> times) {
    return [times = std::move(times)](int output, std::int64_t time) {
        const auto at = times.find(output);
        return at != times.end() && at->second.contains(time) ? kPulse : 0.0;
    };
}

double amplitudeOf(double decibels) {
    return std::pow(10.0, decibels / 20.0);
}

TEST(SimSignal, EveryPairOfARoutingMatrixHasItsOwnDelayAndGain) {
    // Inputs 1 and 2 swapped; input 3 hears outputs 3 and 0, as a mixer route does; output 0
    // reaches inputs 0 and 3.
    const struct {
        int input;
        int output;
        std::int64_t delay;
        double gainDb;
    } cables[] = {{0, 0, 40, 0}, {1, 2, 55, -6}, {2, 1, 70, 0}, {3, 3, 90, -20}, {3, 0, 100, 3}};
    const SimSettings settings = simSettings(
        "type=Float64LSB,inputs=4,outputs=4,route=0>0@40:1>2@55*-6dB:2>1@70:3>3@90*-20:3>0@100*3");
    constexpr ASIOLong kFrames = 64;
    constexpr std::int64_t kSwitches = 12;
    const auto playedAt = [](int output) { return std::int64_t{3} + 97 * output; };
    SimHost host(settings, kFrames);
    ASSERT_EQ(host.created(), ASE_OK);
    ASSERT_TRUE(host.run(
        kSwitches,
        impulses(
            {{0, {playedAt(0)}}, {1, {playedAt(1)}}, {2, {playedAt(2)}}, {3, {playedAt(3)}}})));
    std::vector<std::vector<double>> expected(4, std::vector<double>(kSwitches * kFrames, 0.0));
    for (const auto& cable : cables) {
        expected[static_cast<std::size_t>(cable.input)]
                [static_cast<std::size_t>(playedAt(cable.output) + 2 * kFrames + cable.delay)] +=
            kPulse * amplitudeOf(cable.gainDb);
    }
    for (std::size_t input = 0; input < expected.size(); ++input) {
        EXPECT_THAT(host.heard[input], Pointwise(DoubleNear(kGainRounding), expected[input]))
            << "input " << input;
    }
}

TEST(SimSignal, LoopsOfSecondsArriveWholeAndTheMemoryStaysWithinItsBound) {
    for (const auto& [text, frames, delay] :
         {std::tuple{"rate=48000,delay=240000", 2048, 240000},
          std::tuple{"rate=192000,delay=4194304", 2048, 4194304}}) {
        SCOPED_TRACE(text);
        SimSettings settings = simSettings(text);
        settings.inputs = settings.outputs = 1;
        settings.sampleType = ASIOSTFloat64LSB;
        SimHost host(settings, frames);
        ASSERT_EQ(host.created(), ASE_OK);
        ASSERT_TRUE(host.run(delay / frames + 4, impulses({{0, {0, 1}}})));
        const std::vector<double>& heard = host.heard[0];
        EXPECT_EQ(heard[static_cast<std::size_t>(2 * frames + delay)], kPulse);
        EXPECT_EQ(heard[static_cast<std::size_t>(2 * frames + delay + 1)], kPulse);
        EXPECT_EQ(std::count(heard.begin(), heard.end(), 0.0), std::ssize(heard) - 2);
    }
    for (const auto& [text, frames] :
         {std::pair{"inputs=64,outputs=64,delay=4194304", 256},
          std::pair{"inputs=64,outputs=64,type=Float64LSB,max=1048576", 1048576}}) {
        SCOPED_TRACE(text);
        SimHost tooMuch(simSettings(text), frames);
        EXPECT_EQ(tooMuch.created(), ASE_NoMemory);
        char reason[124] = {};
        tooMuch.sim().getErrorMessage(reason);
        EXPECT_THAT(reason, HasSubstr("MiB"));
    }
}

// Lost periods: the counted loop is short by their length and the positions jump; what the halves
// held plays again while no host writes. Repeated periods: the counted loop is long by their
// length, the position stands still, the inputs repeat and the host's last write is what plays.
TEST(SimDropout, LostAndRepeatedPeriodsFoolACountButShowInPositionsHalvesAndMessages) {
    constexpr ASIOLong kFrames = 64;
    const struct {
        const char* settings;
        std::map<int, std::set<std::int64_t>> played;
        std::set<std::int64_t> heard; // host times, on the input of the output played
        std::vector<std::int64_t> periods;
        std::pair<std::int64_t, ASIOLong> message; // before switch, selector
    } cases[] = {
        {"delay=400,dropout_at=3,dropout_periods=2",
         {{0, {0}}},
         {400},
         {0, 1, 2, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
         {3, kAsioOverload}},
        // Played at switch 1, heard once where it should be and once again, 2B later: the half it
        // was written to played again in the lost period 4.
        {"delay=200,dropout_at=3,dropout_periods=2",
         {{0, {64}}},
         {264, 392},
         {},
         {3, kAsioOverload}},
        {"delay=400,dropout_at=3,dropout_periods=2,dropout_kind=repeated",
         {{0, {0}}, {1, {4 * kFrames + 10, 5 * kFrames + 20}}}, // switch 5 overwrites switch 4
         {656, 868},
         {0, 1, 2, 3, 3, 3, 4, 5, 6, 7, 8, 9, 10, 11},
         {4, kAsioResyncRequest}},
    };
    for (const auto& c : cases) {
        for (const bool supports : {true, false}) {
            SCOPED_TRACE(c.settings + std::string(supports ? "" : ", messages unsupported"));
            SimHost host(simSettings("type=Float64LSB," + std::string(c.settings)), kFrames,
                         supports);
            ASSERT_TRUE(host.run(14, impulses(c.played)));
            std::set<std::int64_t> heard;
            for (std::size_t input = 0; input < host.heard.size(); ++input) {
                for (std::size_t t = 0; t < host.heard[input].size(); ++t) {
                    if (host.heard[input][t] != 0) {
                        EXPECT_EQ(host.heard[input][t], kPulse);
                        heard.insert(static_cast<std::int64_t>(t));
                    }
                }
            }
            EXPECT_EQ(heard, c.heard);
            for (std::size_t k = 0; k < c.periods.size(); ++k) {
                EXPECT_EQ(host.positions[k], c.periods[k] * kFrames) << "switch " << k;
                EXPECT_EQ(host.halves[k], c.periods[k] % 2) << "switch " << k;
            }
            EXPECT_EQ(host.messages,
                      supports ? decltype(host.messages){c.message} : decltype(host.messages){});
        }
    }
}

TEST(SimDropout, ARepeatedPeriodHandsTheSameRecordingAgainAndATimedOneComesAtItsSwitch) {
    constexpr ASIOLong kFrames = 64;
    SimHost repeated(simSettings("noise=-20,dropout_at=3,dropout_kind=repeated,dropout_periods=2"),
                     kFrames);
    ASSERT_TRUE(repeated.run(7, impulses({})));
    const auto period = [&](std::int64_t k) {
        const auto first = repeated.heard[0].begin() + k * kFrames;
        return std::vector<double>(first, first + kFrames);
    };
    EXPECT_EQ(period(4), period(3));
    EXPECT_EQ(period(5), period(3));
    EXPECT_NE(period(6), period(3));

    // 0.5 s at 48 kHz is period 375.
    SimHost timed(simSettings("dropout_at=0.5s"), kFrames);
    ASSERT_TRUE(timed.run(380, impulses({})));
    for (std::size_t k = 1; k < timed.positions.size(); ++k) {
        EXPECT_EQ(timed.positions[k] - timed.positions[k - 1], (k == 375 ? 2 : 1) * kFrames) << k;
    }
}

TEST(SimSignal, ACoupledInputLetsALongPulseSagWithItsTimeConstant) {
    for (const auto& [hertz, rate] : {std::pair{5.0, 48000.0}, std::pair{2.0, 96000.0}}) {
        const std::string text =
            "type=Float64LSB,inputs=1,outputs=1,delay=0,rates=" + std::to_string(rate) +
            ",rate=" + std::to_string(rate) + ",ac_coupling=" + std::to_string(hertz);
        SCOPED_TRACE(text);
        constexpr ASIOLong kFrames = 256;
        const double timeConstant = rate / (2 * std::numbers::pi * hertz); // samples
        SimHost host(simSettings(text), kFrames);
        ASSERT_TRUE(host.run(static_cast<std::int64_t>(10 * timeConstant) / kFrames + 3,
                             [](int, std::int64_t) { return kPulse; }));
        const auto after = [&](double samples) {
            return host.heard[0][static_cast<std::size_t>(2 * kFrames + std::llround(samples))];
        };
        EXPECT_EQ(after(0), kPulse);
        EXPECT_NEAR(after(timeConstant),
                    kPulse * std::exp(-std::round(timeConstant) / timeConstant), kPulse * 1e-3);
        EXPECT_LT(after(10 * timeConstant), kPulse * 1e-4);
    }
}

// A sine at a twentieth of the rate through a delay that moves: every sample is where the delay
// says, within the filters' accuracy, for a whole run of drift and its slips.
TEST(SimSignal, DriftAndFractionalDelaysMoveTheSignalSampleBySample) {
    constexpr ASIOLong kFrames = 1024;
    constexpr double kCycle = 0.05; // per sample
    const struct {
        const char* settings;
        double seconds;
        double start;     // the delay at the start
        double perSample; // its drift
        double slip;      // where it slips back
    } cases[] = {
        {"drift_ppm=5,delay=100", 60, 100, 5e-6, kDriftSlip},
        {"drift_ppm=-1000,delay=40", 1, 40, -1e-3, 16},
        {"drift_ppm=800,delay=30.5,converter=on", 2, 30.5, 8e-4, kDriftSlip},
        {"delay=100.25", 1, 100.25, 0, 1},
        {"route=none,ghost_gain=0,ghost_delay=60.75", 1, 60.75, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        SimHost host(simSettings("type=Float64LSB,inputs=1,outputs=1," + std::string(c.settings)),
                     kFrames);
        const auto switches = static_cast<std::int64_t>(c.seconds * 48000 / kFrames);
        ASSERT_TRUE(host.run(switches, [](int, std::int64_t time) {
            return kPulse * std::sin(2 * std::numbers::pi * kCycle * static_cast<double>(time));
        }));
        double worst = 0;
        for (std::int64_t read = 3 * kFrames; read < switches * kFrames; ++read) {
            const auto time = static_cast<double>(read - kFrames);
            const double delay = c.start + std::fmod(c.perSample * time, c.slip);
            const double expected =
                kPulse * std::sin(2 * std::numbers::pi * kCycle * (time - delay - kFrames));
            worst = std::max(worst,
                             std::fabs(host.heard[0][static_cast<std::size_t>(read)] - expected));
        }
        EXPECT_LT(worst, 1e-4); // the filters' accuracy at a twentieth of the rate: 3e-5
    }
}

} // namespace
