// A loaded JACK server: a server held still past its cycles skips them, and JACK's clock moves
// on by them. Here the loop is a client too and loses the same cycles, so its length
// in samples holds; through a sound card, whose loop keeps running, the host would read it short
// by the periods lost. Either way a run that lost periods is never verified.

#include "jack_fixture.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

namespace {

constexpr int kPeriod = 256;
constexpr int kRate = 48000;
constexpr int kLoopDelay = 3000;

TEST(JackXruns, PeriodsTheServerLosesDuringARunAreNeverVerifiedAsALatency) {
#if defined(__SANITIZE_THREAD__)
    // A client slowed that much cannot keep up with a server that stops and starts again.
    GTEST_SKIP() << "not under the thread sanitizer";
#endif
    JackServer server(kPeriod, kRate, 0, false);
    DelayLine line("dl", kLoopDelay);
    ASSERT_TRUE(line.ready());
    // The server held still for several periods, several times a second, as a loaded machine
    // holds it: most runs of either method meet the periods it then skips. The thread is
    // stopped and joined however the test ends, so the server is never left held.
    std::jthread load([&server](const std::stop_token& stop) {
        while (!stop.stop_requested()) {
            std::this_thread::sleep_for(120ms);
            server.signal(SIGSTOP);
            std::this_thread::sleep_for(25ms);
            server.signal(SIGCONT);
        }
    });
    int notVerified = 0;
    for (const char* method : {"threshold", "correlation"}) {
        SCOPED_TRACE(method);
        const ToolRun run =
            runCli({"--driver", "JACK", "--jack-in", "dl:out", "--jack-out", "dl:in", "--method",
                    method, "--repeat", "6", "--format", "json"},
                   120s);
        const nlohmann::json report = nlohmann::json::parse(run.out);
        int notVerifiedHere = 0;
        for (const nlohmann::json& measured : report["measurements"]) {
            if (measured["verdict"] == "verified") {
                EXPECT_EQ(measured["latency"]["samples"], kLoopDelay + kPeriod) << measured;
            } else {
                ++notVerifiedHere;
            }
        }
        EXPECT_EQ(run.exitCode == 0, notVerifiedHere == 0) << run.err;
        expectNoSanitizerReport(run.err);
        notVerified += notVerifiedHere;
    }
    load.request_stop();
    EXPECT_GT(notVerified, 0) << "no run met a lost period: the test loaded nothing";
}

} // namespace
