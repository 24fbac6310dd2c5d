// The JACK driver when things go wrong, through tarvelo-cli and on its own threads: no server,
// ports that do not exist, a name in use, and the server killed, frozen, its period changed or
// the loop cut in the middle of a measurement or as the driver ends. Also what it reports next
// to jack_delay on a stand-in interface.

#include "drivers/jack/jack_driver.h"
#include "jack_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <gmock/gmock.h>

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

// Ports that declare less than the loop leave an excess for jackd's systemic -I and -O; ports
// that declare more leave none to add.
TEST(JackCli, ReportsTheLatenciesJackDelayExpectsOfAStandInInterface) {
    for (const auto& [capture, playback] : {std::pair{"300", "700"}, {"30", "70"}}) {
        SCOPED_TRACE(std::string(capture) + "/" + playback);
        JackServer server(kPeriod, kRate, 0);
        // Physical ports of a client of ours, declaring a capture and a playback latency.
        DelayLine card("card", 100, {"--physical", capture, playback});
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
        EXPECT_EQ(out, numberAfter(jackDelay.out(), "Latency on playback port:"))
            << jackDelay.out();
        // Measured minus reported is jack_delay's excess: what no port declares. It is the
        // recording offset, and what jackd's systemic -I and -O add up to.
        const long offset = numberAfter(run.out, "Recording offset (unreported latency): ");
        EXPECT_EQ(offset, measuredSamples(run.out) - in - out) << run.out;
        EXPECT_LE(std::abs(static_cast<double>(offset) - excess), 1.0)
            << run.out << jackDelay.out();
        if (offset >= 0) {
            EXPECT_EQ(numberAfter(run.out, "For jackd: -I ") + numberAfter(run.out, " -O "), offset)
                << run.out;
        } else {
            EXPECT_TRUE(contains(run.out, "For jackd: no systemic latency to add")) << run.out;
        }
    }
}

// What befalls the server or the loop "slow:out" to "tarvelo:in_1".
void killServer(JackServer& server) {
    server.signal(SIGKILL);
}
void freezeServer(JackServer& server) {
    server.signal(SIGSTOP);
}
void changePeriod(JackServer&) {
    runTool({"jack_bufsize", "512"});
}
void cutLoop(JackServer&) {
    runTool({"jack_disconnect", "slow:out", "tarvelo:in_1"});
}

struct Fault {
    const char* name;
    std::vector<std::string> arguments; // besides the driver and its loop
    std::function<void(JackServer&)> cause;
    const char* notice; // what the driver says, on standard error
    // A new period is a driver reset: the measurement runs again, as a user would run it, and
    // measures the loop at the new period.
    long measuredAfterReset = 0;
};

const Fault kFaults[] = {
    {"server killed in a sweep", {"--sweep"}, killServer, "[jack] the JACK server shut down"},
    {"server frozen in a sweep", {"--sweep"}, freezeServer, "[jack] the JACK server stopped"},
    {"period changed",
     {},
     changePeriod,
     "[jack] the JACK period changed from 256 to 512 samples",
     kSlowLoopDelay + 512},
    {"loop cut", {}, cutLoop, "[jack] slow:out was disconnected from tarvelo:in_1"},
};

TEST(JackCli, AFaultInTheMiddleOfAMeasurementEndsItClearlyOrMeasuresAgainAfterAReset) {
    for (const Fault& fault : kFaults) {
        SCOPED_TRACE(fault.name);
        JackServer server(kPeriod, kRate);
        DelayLine line("slow", kSlowLoopDelay);
        ASSERT_TRUE(line.ready());
        std::vector<std::string> arguments{TARVELO_CLI, "--driver",   "JACK",   "--jack-in",
                                           "slow:out",  "--jack-out", "slow:in"};
        arguments.insert(arguments.end(), fault.arguments.begin(), fault.arguments.end());
        Child cli(arguments);
        ASSERT_TRUE(within(20s, [] { return wiredFrom("slow:out"); })) << cli.err();
        fault.cause(server);
        // A frozen server costs a second to notice and a bounded wait for each of the two calls
        // that then meet it (deactivating the client, opening the next one).
        EXPECT_EQ(cli.waitExit(15s), fault.measuredAfterReset ? 0 : 1) << cli.err();
        killServer(server); // frozen or not, the next one starts afresh
        EXPECT_TRUE(contains(cli.err(), fault.notice)) << cli.err();
        for (const char* unwanted : {"the driver stopped calling back", "sample rate changed"}) {
            EXPECT_FALSE(contains(cli.err(), unwanted)) << cli.err();
        }
        expectNoSanitizerReport(cli.err());
        if (fault.measuredAfterReset) {
            EXPECT_EQ(measuredSamples(cli.out()), fault.measuredAfterReset) << cli.out();
        } else {
            // Nothing measured: at most a report that says so.
            EXPECT_TRUE(cli.out().empty() || cli.out().rfind("No result: ", 0) == 0) << cli.out();
        }
    }
}

// The server killed in a repeat: the runs it made are reported with the failure.
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
    EXPECT_EQ(report["statistics"][0]["runs"], made);
    EXPECT_EQ(report["failure"]["kind"], "driverCannotReopen");
    EXPECT_EQ(report["failure"]["planned"], 50);
    expectNoSanitizerReport(cli.err());
}

// The driver in this process, driven as a host would drive it: one sample at full scale leaves
// output 1 at the first switch of a run, and input 1 is watched for it.
struct Host {
    static inline ASIOBufferInfo buffers[2]{};
    static inline std::atomic<long> switches{0};
    static inline std::atomic<long> heardAt{-1}; // frames from leaving to coming back
    static inline std::atomic<float> heard{0};   // the sample that came back
    static inline std::atomic<int> overloads{0};
    static inline std::atomic<int> askedForOverload{0};
    static inline std::atomic<bool> stallOnce{false};

    static void bufferSwitch(ASIOLong half, ASIOBool) {
        const long k = switches++;
        const auto* in = static_cast<const float*>(buffers[0].buffers[half]);
        auto* out = static_cast<float*>(buffers[1].buffers[half]);
        std::fill_n(out, kPeriod, 0.0f);
        out[0] = k == 0 ? 1.0f : 0.0f;
        for (int i = 0; i < kPeriod && heardAt < 0; ++i) {
            if (in[i] != 0.0f) {
                heard = in[i];
                heardAt = k * kPeriod + i;
            }
        }
        if (stallOnce.exchange(false)) {
            std::this_thread::sleep_for(50ms); // several periods: the server reports an xrun
        }
    }
    static ASIOLong message(ASIOLong selector, ASIOLong value, void*, double*) {
        overloads += selector == kAsioOverload ? 1 : 0;
        askedForOverload += selector == kAsioSelectorSupported && value == kAsioOverload ? 1 : 0;
        return selector == kAsioSelectorSupported ? value == kAsioOverload : 1;
    }
};

// A driver with buffers for its first input and output, wired to each other.
JackDriver* drivenInALoop() {
    Host::switches = 0;
    Host::heardAt = -1;
    Host::overloads = 0;
    Host::askedForOverload = 0;
    JackSettings settings;
    settings.inputSources = {"tarvelo:out_1"};
    settings.outputTargets = {"tarvelo:in_1"};
    JackDriver* driver = createJackDriver(settings);
    Host::buffers[0] = {ASIOTrue, 0, {}};
    Host::buffers[1] = {ASIOFalse, 0, {}};
    static ASIOCallbacks callbacks{Host::bufferSwitch, nullptr, Host::message, nullptr};
    EXPECT_EQ(driver->init(nullptr), ASIOTrue);
    EXPECT_EQ(driver->createBuffers(Host::buffers, 2, kPeriod, &callbacks), ASE_OK);
    return driver;
}

std::string errorText(IASIO& driver) {
    char text[124];
    driver.getErrorMessage(text);
    return text;
}

int threadCount() {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                          std::filesystem::directory_iterator()));
}

TEST(JackDriver, WhateverEndsARunTheHostHearsOfItAndTheDriverEndsWithinTheBound) {
    struct Case {
        const char* name;
        std::function<void(JackServer&)> cause;
        std::function<bool(JackDriver&)> heard;
        bool afterStop = false; // as the host ends the driver
        bool frozen = false;
    };
    const Case cases[] = {
        // The pulse comes back whole one period later, as JACK delivers a self-connection.
        {"a plain run", [](JackServer&) {},
         [](JackDriver&) { return Host::heardAt == kPeriod && Host::heard == 1.0f; }},
        // Told as it happens, to a host that says it takes it, asked once.
        {"a slow switch", [](JackServer&) { Host::stallOnce = true; },
         [](JackDriver& d) {
             return Host::overloads > 0 && Host::askedForOverload == 1 && d.xrunCount() > 0;
         }},
        {"server killed as the driver ends", killServer, {}, true},
        {"server frozen as the driver ends", freezeServer, {}, true, true},
    };
    std::thread([] {}).join(); // ThreadSanitizer starts a thread of its own with the first one
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JackServer server(kPeriod, kRate);
        const int threadsBefore = threadCount();
        JackDriver* driver = drivenInALoop();
        ASSERT_EQ(driver->start(), ASE_OK);
        ASSERT_TRUE(within(5s, [] { return Host::switches > 8; }));
        if (c.afterStop) {
            driver->stop();
        }
        c.cause(server);
        EXPECT_TRUE(!c.heard || within(5s, [&] { return c.heard(*driver); }));
        // At most one call waits out the bound: the others know the server does not answer.
        const auto ending = std::chrono::steady_clock::now();
        driver->stop();
        const ASIOError disposed = driver->disposeBuffers();
        const std::string error = errorText(*driver);
        driver->Release();
        EXPECT_LT(std::chrono::steady_clock::now() - ending, kJackServerTimeout + 1s);
        if (!c.frozen) {
            EXPECT_EQ(threadCount(), threadsBefore);
            continue;
        }
        EXPECT_EQ(disposed, ASE_NotPresent);
        EXPECT_THAT(error, testing::StartsWith("disposeBuffers: the JACK server ")) << error;
        // JACK calls the abandoned clients back again, and nothing of theirs is left to reach.
        server.signal(SIGCONT);
        std::this_thread::sleep_for(100ms);
    }
}

// Why a driver cannot be opened, as tarvelo-cli says it: no server (and none is started), ports
// that cannot be wired, listed with those that can, no physical port to wire to by default, a
// client name in use.
TEST(JackDriver, WhatKeepsItFromOpeningIsSaid) {
    {
        const JackTurn turn;
        ::setenv("JACK_DEFAULT_SERVER", "tarvelo-test-none", 1);
        ::unsetenv("JACK_NO_START_SERVER"); // only the driver's own option keeps one from starting
        const ToolRun run = runCli({"--driver", "JACK"});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(lastLine(run.err).starts_with("tarvelo-cli: no JACK server is running; start "
                                                  "one with jackd"))
            << run.err;
        EXPECT_NE(runTool({"jack_lsp"}).exitCode, 0) << "a server was started";
    }
    JackServer server(kPeriod, kRate, 0);
    DelayLine line("dl", 10);
    ASSERT_TRUE(line.ready());
    const std::tuple<std::vector<std::string>, int, std::vector<std::string>> cases[] = {
        {{"--jack-in", "nosuch:out"}, 2, {"no JACK output port 'nosuch:out'", "dl:out"}},
        {{"--jack-in", "dl:out", "--jack-out", "dl:out"},
         2,
         {"dl:in", "tarvelo:in_1"}}, // an output
        {{"--jack-in", "dl:out", "--jack-in", "dl:out", "--jack-channels", "1"}, 2, {"more ports"}},
        {{"--jack-out", "dl:in"}, 2, {"no physical capture port"}},
        {{"--jack-name", "dl", "--jack-in", "dl:out", "--jack-out", "dl:in"},
         1,
         {"the JACK client name 'dl' is taken by another client"}},
    };
    for (const auto& [arguments, exitCode, said] : cases) {
        std::vector<std::string> all{"--driver", "JACK"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        const ToolRun run = runCli(all);
        EXPECT_EQ(run.exitCode, exitCode) << run.err;
        for (const std::string& part : said) {
            EXPECT_TRUE(lastLine(run.err).starts_with("tarvelo-cli: ") &&
                        contains(lastLine(run.err), part))
                << part << " not in: " << run.err;
        }
    }
}

} // namespace
