// The JACK driver when things go wrong, through tarvelo-cli and on its own threads: no server,
// ports that do not exist, and the server killed, its period changed or the loop cut in the
// middle of a measurement. Also what it reports next to jack_delay on a stand-in interface.

#include "drivers/jack/jack_driver.h"
#include "jack_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <thread>

namespace {

constexpr int kPeriod = 256;
constexpr int kRate = 48000;
// Long enough a loop that a fault lands while the pulse is on its way.
constexpr int kSlowLoopDelay = kRate * 4 / 5;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Whether tarvelo's first input reads from `source`: the measurement is about to start.
bool wiredFrom(const std::string& source) {
    return contains(runTool({"jack_lsp", "-c", "tarvelo:in_1"}).out, source);
}

// The last line of a tarvelo-cli's standard error: its own message, after the driver's.
std::string lastLine(const std::string& err) {
    const std::size_t start = err.rfind('\n', err.size() >= 2 ? err.size() - 2 : 0);
    return start == std::string::npos ? err : err.substr(start + 1);
}

TEST(JackCli, WithoutAServerSaysHowToStartOneAndStartsNone) {
    const JackTurn turn;
    ::setenv("JACK_DEFAULT_SERVER", "tarvelo-test-none", 1);
    ::unsetenv("JACK_NO_START_SERVER"); // only the driver's own option keeps a server from starting
    const ToolRun run = runCli({"--driver", "JACK"});
    ::setenv("JACK_NO_START_SERVER", "1", 1);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(lastLine(run.err).starts_with("tarvelo-cli: no JACK server is running; start one "
                                              "with jackd"))
        << run.err;
    EXPECT_NE(runTool({"jack_lsp"}).exitCode, 0) << "a server was started";
}

TEST(JackCli, PortsThatCannotBeWiredAreRefusedWithThePortsThatCan) {
    JackServer server(kPeriod, kRate, 2);
    DelayLine line("dl", 10);
    ASSERT_TRUE(line.ready());
    // The ports a message must offer instead: every one of the kind that would fit.
    const std::vector<std::string> sources{"system:capture_1", "system:capture_2", "dl:out"};
    const std::vector<std::string> targets{"system:playback_1", "system:playback_2", "dl:in"};
    const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
        {{"--jack-in", "nosuch:out"}, sources},
        {{"--jack-out", "dl:out"}, targets}, // an output cannot be fed
        {{"--jack-in", "dl:out", "--jack-in", "system:capture_1", "--jack-channels", "1"}, {}},
    };
    for (const auto& [wrong, offered] : cases) {
        std::vector<std::string> arguments{"--driver", "JACK"};
        arguments.insert(arguments.end(), wrong.begin(), wrong.end());
        const ToolRun run = runCli(arguments);
        EXPECT_EQ(run.exitCode, 2) << run.err;
        const std::string message = lastLine(run.err);
        EXPECT_TRUE(message.starts_with("tarvelo-cli: ")) << run.err;
        for (const std::string& port : offered) {
            EXPECT_TRUE(contains(message, port)) << port << " not offered in: " << run.err;
        }
    }
}

TEST(JackCli, WithoutPhysicalPortsAsksForNames) {
    JackServer server(kPeriod, kRate, 0);
    const ToolRun run = runCli({"--driver", "JACK"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(contains(run.err, "no physical capture port")) << run.err;
}

TEST(JackCli, ReportsTheLatenciesJackDelayExpectsOfAStandInInterface) {
    JackServer server(kPeriod, kRate, 0);
    // Physical ports of a client of ours, declaring a capture and a playback latency.
    DelayLine card("card", 100, {"--physical", "300", "700"});
    ASSERT_TRUE(card.ready());
    Child jackDelay({"jack_delay", "-E", "-I", "card:out", "-O", "card:in"}, 30s);
    ASSERT_TRUE(jackDelay.waitForOutput(" frames", 10s)) << jackDelay.err();
    std::this_thread::sleep_for(1s);
    jackDelay.signal(SIGINT);
    jackDelay.waitExit(5s);
    const double excess = latestJackDelayReading(jackDelay.out()).value_or(-1e9);

    const ToolRun run = runCli({"--driver", "JACK"}); // the first physical ports are the card's
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const long in = numberAfter(run.out, "latencies (samples): in: ");
    const long out = numberAfter(run.out, " out: ");
    EXPECT_EQ(in, numberAfter(jackDelay.out(), "Latency on capture port:")) << jackDelay.out();
    EXPECT_EQ(out, numberAfter(jackDelay.out(), "Latency on playback port:")) << jackDelay.out();
    // Measured minus reported is jack_delay's excess: what no port declares.
    EXPECT_LE(std::abs(static_cast<double>(measuredSamples(run.out) - in - out) - excess), 1.0)
        << run.out << jackDelay.out();
}

struct Fault {
    const char* name;
    std::function<void(JackServer&)> cause;
    const char* notice; // what the driver says, on standard error
    // A new period is a driver reset: the measurement runs again, as a user would run it, and
    // measures the loop at the new period.
    long measuredAfterReset = 0;
};

const Fault kFaults[] = {
    {"server killed", [](JackServer& s) { s.signal(SIGKILL); }, "[jack] the JACK server shut down"},
    {"server ended", [](JackServer& s) { s.signal(SIGTERM); }, "[jack] the JACK server shut down"},
    {"period changed",
     [](JackServer&) {
         runTool({"jack_bufsize", "512"});
     },
     "[jack] the JACK period changed from 256 to 512 samples", kSlowLoopDelay + 512},
    {"loop cut",
     [](JackServer&) {
         runTool({"jack_disconnect", "slow:out", "tarvelo:in_1"});
     },
     "[jack] slow:out was disconnected from tarvelo:in_1"},
};

TEST(JackCli, AFaultInTheMiddleOfAMeasurementEndsItClearlyOrMeasuresAgainAfterAReset) {
    for (const Fault& fault : kFaults) {
        SCOPED_TRACE(fault.name);
        JackServer server(kPeriod, kRate);
        DelayLine line("slow", kSlowLoopDelay);
        ASSERT_TRUE(line.ready());
        Child cli(
            {TARVELO_CLI, "--driver", "JACK", "--jack-in", "slow:out", "--jack-out", "slow:in"});
        ASSERT_TRUE(within(20s, [] { return wiredFrom("slow:out"); })) << cli.err();
        fault.cause(server);
        EXPECT_EQ(cli.waitExit(20s), fault.measuredAfterReset ? 0 : 1) << cli.err();
        EXPECT_TRUE(contains(cli.err(), fault.notice)) << cli.err();
        expectNoSanitizerReport(cli.err());
        if (fault.measuredAfterReset) {
            EXPECT_EQ(measuredSamples(cli.out()), fault.measuredAfterReset) << cli.out();
        } else {
            EXPECT_EQ(cli.out(), "");
        }
    }
}

TEST(JackCli, AServerGoneDuringARepeatEndsItAtOnceWithTheRunsSoFarInTheReport) {
    JackServer server(kPeriod, kRate);
    DelayLine line("slow", kSlowLoopDelay); // a measurement takes about a second
    ASSERT_TRUE(line.ready());
    Child cli({TARVELO_CLI, "--driver", "JACK", "--jack-in", "slow:out", "--jack-out", "slow:in",
               "--repeat", "50", "--format", "json", "--quiet"});
    ASSERT_TRUE(within(20s, [] { return wiredFrom("slow:out"); })) << cli.err();
    std::this_thread::sleep_for(3s); // a few measurements
    server.signal(SIGKILL);
    ASSERT_EQ(cli.waitExit(20s), 1) << cli.err();
    std::size_t lines = 0;
    for (std::size_t at = cli.err().find("tarvelo-cli: "); at != std::string::npos;
         at = cli.err().find("tarvelo-cli: ", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 1u) << cli.err();
    const nlohmann::json report = nlohmann::json::parse(cli.out());
    const std::size_t made = report["measurements"].size();
    EXPECT_GT(made, 0u);
    EXPECT_LT(made, 50u);
    EXPECT_EQ(report["statistics"]["runs"], made);
    EXPECT_EQ(report["failure"]["kind"], "driverCannotReopen");
    EXPECT_EQ(report["failure"]["planned"], 50);
    expectNoSanitizerReport(cli.err());
}

// The driver in this process, driven as a host would drive it.
struct Host {
    static inline std::atomic<int> switches{0};
    static inline std::atomic<int> resets{0};
    static inline std::atomic<bool> stallOnce{false};

    static void bufferSwitch(ASIOLong, ASIOBool) {
        ++switches;
        if (stallOnce.exchange(false)) {
            std::this_thread::sleep_for(50ms); // several periods: the server reports an xrun
        }
    }
    static ASIOLong message(ASIOLong selector, ASIOLong, void*, double*) {
        resets += selector == kAsioResetRequest ? 1 : 0;
        return 1;
    }
};

int threadCount() {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                          std::filesystem::directory_iterator()));
}

TEST(JackDriver, WhateverEndsARunTheHostHearsOfItAndNoThreadOutlivesTheDriver) {
    struct Case {
        const char* name;
        std::function<void(JackServer&)> cause;
        std::function<bool(JackDriver&)> heard;
    };
    const Case cases[] = {
        {"a plain run", [](JackServer&) {}, [](JackDriver&) { return Host::switches > 16; }},
        {"a slow switch", [](JackServer&) { Host::stallOnce = true; },
         [](JackDriver& d) { return d.xrunCount() > 0; }},
        {kFaults[0].name, kFaults[0].cause, [](JackDriver&) { return Host::resets > 0; }},
        {kFaults[2].name, kFaults[2].cause, [](JackDriver&) { return Host::resets > 0; }},
    };
    std::thread([] {}).join(); // ThreadSanitizer starts a thread of its own with the first one
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JackServer server(kPeriod, kRate);
        const int threadsBefore = threadCount();
        Host::switches = 0;
        Host::resets = 0;
        JackSettings settings;
        settings.inputSources = {"tarvelo:out_1"};
        settings.outputTargets = {"tarvelo:in_1"};
        JackDriver* driver = createJackDriver(settings);
        ASSERT_EQ(driver->init(nullptr), ASIOTrue);
        ASIOBufferInfo buffers[] = {{ASIOTrue, 0, {}}, {ASIOFalse, 0, {}}};
        ASIOCallbacks callbacks{Host::bufferSwitch, nullptr, Host::message, nullptr};
        ASSERT_EQ(driver->createBuffers(buffers, 2, kPeriod, &callbacks), ASE_OK);
        ASSERT_EQ(driver->start(), ASE_OK);
        ASSERT_TRUE(within(5s, [] { return Host::switches > 8; }));
        c.cause(server);
        EXPECT_TRUE(within(5s, [&] { return c.heard(*driver); }));
        driver->stop();
        driver->disposeBuffers();
        driver->Release();
        EXPECT_EQ(threadCount(), threadsBefore);
    }
}

} // namespace
