// tarvelo-cli --watch through a JACK loop that changes while it is watched: a delay line that
// swaps its delay, then the server's period changed with jack_bufsize.

#include "jack_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <sstream>

namespace {

using Json = nlohmann::json;

constexpr int kPeriod = 256;
constexpr int kRate = 48000;

std::vector<Json> readings(const std::string& out) {
    std::vector<Json> found;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        Json json = Json::parse(line, nullptr, false);
        if (!json.is_discarded() && json.contains("reading")) {
            found.push_back(std::move(json));
        }
    }
    return found;
}

// The first reading from `from` on whose flags hold `text`, as its position; -1 for none.
long flaggedAt(const std::vector<Json>& all, std::size_t from, const std::string& text) {
    for (std::size_t i = from; i < all.size(); ++i) {
        for (const Json& flag : all[i]["flags"]) {
            if (flag.get<std::string>().find(text) != std::string::npos) {
                return static_cast<long>(i);
            }
        }
    }
    return -1;
}

TEST(JackWatch, FlagsANewDelayInTheReadingAfterItAndANewPeriodWithItsReset) {
    JackServer server(kPeriod, kRate);
    DelayLine line("line", 1000, {"--swap", "3000"});
    ASSERT_TRUE(line.ready());
    Child cli({TARVELO_CLI, "--driver", "JACK", "--jack-in", "line:out", "--jack-out", "line:in",
               "--watch", "--format", "json", "-q"});
    ASSERT_TRUE(within(20s, [&] { return readings(cli.out()).size() >= 3; })) << cli.err();

    // The reading in flight when the delay changes may still be the old one; the next is not.
    const std::size_t before = readings(cli.out()).size();
    line.signal(SIGUSR2);
    ASSERT_TRUE(cli.waitForOutput("latency changed: 1256 -> 3256 samples", 10s)) << cli.out();
    EXPECT_LE(flaggedAt(readings(cli.out()), before, "latency changed"),
              static_cast<long>(before) + 1);

    // A new period asks the driver for a reset; the next reading is at the new size.
    ASSERT_EQ(runTool({"jack_bufsize", "512"}).exitCode, 0);
    ASSERT_TRUE(cli.waitForOutput("buffer size changed: 256 -> 512 samples", 20s)) << cli.out();
    const std::vector<Json> all = readings(cli.out());
    const long resized = flaggedAt(all, 0, "buffer size changed");
    const Json& reading = all[static_cast<std::size_t>(resized)];
    EXPECT_EQ(reading["measurement"]["bufferSize"], 512);
    EXPECT_EQ(reading["resets"], 1);
    EXPECT_EQ(reading["measurement"]["latency"]["samples"], 3000 + 512) << reading.dump();
    EXPECT_EQ(flaggedAt(all, 0, "after a reset"), resized) << reading.dump();

    cli.signal(SIGINT);
    EXPECT_EQ(cli.waitExit(10s), 0) << cli.err();
    EXPECT_TRUE(cli.waitForOutput("{\"summary\":", 1s)) << cli.out();
    expectNoSanitizerReport(cli.err());
}

} // namespace
