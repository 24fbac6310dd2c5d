// What tarvelo-cli measures through its JACK driver on real servers, for every period and rate: a
// direct loop (out to in) and delay lines of our own between the two. JACK runs a client once a
// cycle, so a loop of N samples comes back N + P later (P, the period), as jack_delay reads it
// on these loops and next to a stand-in interface (test_jack_faults.cpp). Also two delay lines on
// two channels as a matrix.

#include "jack_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>

namespace {

constexpr int kDelays[] = {0, 1, 100, 1000, 4799};

class JackGrid : public testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(JackGrid, TarveloMeasuresEveryLoopAsItsDelayPlusOnePeriod) {
#if defined(TARVELO_SANITIZED)
    GTEST_SKIP() << "the grid measures for minutes; the fault tests run the driver's threads "
                    "under the sanitizers";
#endif
    const auto [period, rate] = GetParam();
    JackServer server(period, rate);
    std::vector<std::unique_ptr<DelayLine>> lines; // side by side on the one server
    for (const int delay : kDelays) {
        if (delay != 0) {
            lines.push_back(std::make_unique<DelayLine>("d" + std::to_string(delay), delay));
            ASSERT_TRUE(lines.back()->ready());
        }
    }
    // One after the other: libjack can hang closing a client while another client of the server
    // opens (its notification thread, cancelled, keeps a lock).
    for (const int delay : kDelays) {
        const std::string client = "t" + std::to_string(delay);
        const std::string loop = delay == 0 ? client : "d" + std::to_string(delay);
        const ToolRun run = runCli({"--driver", "JACK", "--jack-name", client, "--jack-in",
                                    loop + (delay == 0 ? ":out_1" : ":out"), "--jack-out",
                                    loop + (delay == 0 ? ":in_1" : ":in")});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(measuredSamples(run.out), delay + period) << "delay " << delay << ": " << run.out;
    }
}

// Two delay lines, one per channel: the matrix finds each on its own pair, and nothing across.
TEST(JackMatrix, EachDelayLineIsItsOwnPairMeasuredAsItsDelayPlusOnePeriod) {
    constexpr int kPeriod = 256;
    JackServer server(kPeriod, 48000);
    const int delays[] = {100, 300};
    std::vector<std::unique_ptr<DelayLine>> lines;
    for (const int delay : delays) {
        lines.push_back(std::make_unique<DelayLine>("m" + std::to_string(delay), delay));
        ASSERT_TRUE(lines.back()->ready());
    }
    const ToolRun run = runCli({"--driver", "JACK", "--jack-name", "tm", "--jack-out", "m100:in",
                                "--jack-out", "m300:in", "--jack-in", "m100:out", "--jack-in",
                                "m300:out", "--matrix", "-q", "--format", "json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const nlohmann::json pairs = nlohmann::json::parse(run.out)["matrix"]["pairs"];
    ASSERT_EQ(pairs.size(), 4u);
    for (const nlohmann::json& pair : pairs) {
        const int output = pair["output"]["index"];
        SCOPED_TRACE(pair.dump());
        EXPECT_EQ(pair["path"], output == pair["input"]["index"]);
        if (pair["path"]) {
            EXPECT_EQ(pair["latency"]["samples"], delays[output] + kPeriod);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PeriodsAndRates, JackGrid,
                         testing::Combine(testing::Values(32, 64, 256, 1024),
                                          testing::Values(44100, 48000, 96000)),
                         [](const testing::TestParamInfo<std::tuple<int, int>>& cell) {
                             return "P" + std::to_string(std::get<0>(cell.param)) + "_" +
                                    std::to_string(std::get<1>(cell.param)) + "Hz";
                         });

} // namespace
