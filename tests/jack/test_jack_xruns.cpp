// A loaded JACK server: a client that overruns its cycle makes the server lose periods, and JACK's
// clock moves on by them. Here the loop is a client too and loses the same cycles, so its length
// in samples holds; through a sound card, whose loop keeps running, the host would read it short
// by the periods lost. Either way a run that lost periods is never verified.

#include "jack_fixture.h"

#include <jack/jack.h>
#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kPeriod = 256;
constexpr int kRate = 48000;
constexpr int kLoopDelay = 3000;

// Sleeps through one of its cycles whenever asked.
std::atomic<int> g_overrunMs{0};

int overrunningProcess(jack_nframes_t, void*) {
    if (const int ms = g_overrunMs.exchange(0); ms > 0) {
        ::usleep(static_cast<useconds_t>(ms) * 1000);
    }
    return 0;
}

TEST(JackXruns, PeriodsTheServerLosesDuringARunAreNeverVerifiedAsALatency) {
    JackServer server(kPeriod, kRate, 0, false);
    DelayLine line("dl", kLoopDelay);
    ASSERT_TRUE(line.ready());
    jack_client_t* slow = jack_client_open("slow", JackNoStartServer, nullptr);
    ASSERT_NE(slow, nullptr);
    jack_set_process_callback(slow, overrunningProcess, nullptr);
    ASSERT_EQ(jack_activate(slow), 0);
    // Several periods lost, several times a second: most runs of either method meet one.
    std::atomic<bool> loading{true};
    std::thread load([&loading] {
        while (loading) {
            std::this_thread::sleep_for(120ms);
            g_overrunMs = 4 * 1000 * kPeriod / kRate;
        }
    });
    int verified = 0;
    int notVerified = 0;
    for (const char* method : {"threshold", "correlation"}) {
        SCOPED_TRACE(method);
        const ToolRun run =
            runCli({"--driver", "JACK", "--jack-in", "dl:out", "--jack-out", "dl:in", "--method",
                    method, "--repeat", "6", "--format", "json"},
                   120s);
        const nlohmann::json report = nlohmann::json::parse(run.out);
        for (const nlohmann::json& measured : report["measurements"]) {
            if (measured["verdict"] == "verified") {
                ++verified;
                EXPECT_EQ(measured["latency"]["samples"], kLoopDelay + kPeriod) << measured;
            } else {
                ++notVerified;
            }
        }
        EXPECT_EQ(run.exitCode, notVerified > 0 ? 3 : 0) << run.err;
        expectNoSanitizerReport(run.err);
    }
    loading = false;
    load.join();
    jack_deactivate(slow);
    jack_client_close(slow);
    EXPECT_GT(notVerified, 0) << "no run met a lost period: the test loaded nothing";
}

} // namespace
