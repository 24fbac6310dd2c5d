// What tarvelo-cli measures through its JACK driver on real servers: against jack_delay on the
// same loops, for every period and rate, a direct loop (out to in) and delay lines of our own
// between the two; and two delay lines on two channels as a matrix.

#include "jack_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <memory>
#include <thread>

namespace {

constexpr int kDelays[] = {0, 1, 100, 1000, 4799};

struct Loop {
    int delay;
    std::string name; // the delay line's client; "" for the direct loop
    std::string in() const { return name + ":in"; }
    std::string out() const { return name + ":out"; }
};

// jack_delay on every loop at once (one instance each), read once each has settled.
std::vector<double> jackDelayReadings(const std::vector<Loop>& loops) {
    std::vector<std::unique_ptr<Child>> tools;
    for (const Loop& loop : loops) {
        if (loop.name.empty()) {
            // jack_delay cannot wire itself to itself. This instance starts first, so its ports
            // carry the name asked for.
            tools.push_back(std::make_unique<Child>(std::vector<std::string>{"jack_delay"}, 30s));
            EXPECT_TRUE(tools.back()->waitForOutput("Signal below threshold", 10s));
            EXPECT_EQ(runTool({"jack_connect", "jack_delay:out", "jack_delay:in"}).exitCode, 0);
        } else {
            tools.push_back(std::make_unique<Child>(
                std::vector<std::string>{"jack_delay", "-O", loop.in(), "-I", loop.out()}, 30s));
        }
    }
    for (const auto& tool : tools) {
        EXPECT_TRUE(tool->waitForOutput(" frames", 10s)) << tool->err();
    }
    std::this_thread::sleep_for(1s); // settled readings
    std::vector<double> readings;
    for (const auto& tool : tools) {
        readings.push_back(latestJackDelayReading(tool->out()).value_or(-1));
    }
    return readings;
}

// Tarvelo's readings of every loop, one after the other: libjack can hang closing a client while
// another client of the server opens (its notification thread, cancelled, keeps a lock).
std::vector<long> tarveloReadings(const std::vector<Loop>& loops) {
    std::vector<long> readings;
    for (const Loop& loop : loops) {
        const std::string client = "t" + std::to_string(loop.delay);
        const bool direct = loop.name.empty();
        const ToolRun run = runCli({"--driver", "JACK", "--jack-name", client, "--jack-in",
                                    direct ? client + ":out_1" : loop.out(), "--jack-out",
                                    direct ? client + ":in_1" : loop.in()});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        readings.push_back(measuredSamples(run.out));
    }
    return readings;
}

class JackGrid : public testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(JackGrid, TarveloMeasuresWhatJackDelayMeasuresOnEveryLoop) {
#if defined(TARVELO_SANITIZED)
    GTEST_SKIP() << "the grid compares numbers with jack_delay for minutes; the fault tests run "
                    "the driver's threads under the sanitizers";
#endif
    const auto [period, rate] = GetParam();
    JackServer server(period, rate);
    std::vector<Loop> loops;
    std::vector<std::unique_ptr<DelayLine>> lines;
    for (int delay : kDelays) {
        loops.push_back({delay, delay == 0 ? "" : "d" + std::to_string(delay)});
        if (delay != 0) {
            lines.push_back(std::make_unique<DelayLine>(loops.back().name, delay));
        }
    }
    for (const auto& line : lines) {
        ASSERT_TRUE(line->ready());
    }
    const std::vector<double> expected = jackDelayReadings(loops);
    const std::vector<long> measured = tarveloReadings(loops);
    for (std::size_t i = 0; i < loops.size(); ++i) {
        EXPECT_LE(std::abs(static_cast<double>(measured[i]) - expected[i]), 1.0)
            << "delay " << loops[i].delay << ": Tarvelo " << measured[i] << ", jack_delay "
            << expected[i];
    }
}

// Two delay lines, one per channel: the matrix finds each on its own pair, as jack_delay does,
// and nothing across.
TEST(JackMatrix, EachDelayLineIsItsOwnPairAsJackDelayMeasuresIt) {
    JackServer server(256, 48000);
    const std::vector<Loop> loops{{100, "m100"}, {300, "m300"}};
    std::vector<std::unique_ptr<DelayLine>> lines;
    for (const Loop& loop : loops) {
        lines.push_back(std::make_unique<DelayLine>(loop.name, loop.delay));
        ASSERT_TRUE(lines.back()->ready());
    }
    const std::vector<double> expected = jackDelayReadings(loops);
    const ToolRun run =
        runCli({"--driver", "JACK", "--jack-name", "tm", "--jack-out", loops[0].in(), "--jack-out",
                loops[1].in(), "--jack-in", loops[0].out(), "--jack-in", loops[1].out(), "--matrix",
                "-q", "--format", "json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const nlohmann::json pairs = nlohmann::json::parse(run.out)["matrix"]["pairs"];
    ASSERT_EQ(pairs.size(), 4u);
    for (const nlohmann::json& pair : pairs) {
        const int output = pair["output"]["index"];
        SCOPED_TRACE(pair.dump());
        EXPECT_EQ(pair["path"], output == pair["input"]["index"]);
        if (pair["path"]) {
            const double jackDelay = expected[static_cast<std::size_t>(output)];
            EXPECT_LE(std::abs(pair["latency"]["samples"].get<double>() - jackDelay), 1.0)
                << "jack_delay " << jackDelay;
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
