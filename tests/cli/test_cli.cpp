// tarvelo-cli as a user runs it: the real binary, its output streams and exit codes.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

struct CliRun {
    int exitCode;
    std::string out;
    std::string err;
};

std::string slurp(const std::filesystem::path& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

CliRun cli(const std::string& arguments) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("tarvelo-cli-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const int status = std::system((std::string(TARVELO_CLI) + " " + arguments + " >" +
                                    (dir / "out").string() + " 2>" + (dir / "err").string())
                                       .c_str());
    CliRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir / "out"),
               slurp(dir / "err")};
    std::filesystem::remove_all(dir);
    return run;
}

std::string lastLine(const std::string& text) {
    return text.substr(text.rfind('\n', text.size() - 2) + 1);
}

// Every result printed, with the driver's own figures, which the report gives once, below the
// first.
struct Printed {
    int measured;
    int reportedIn;
    int reportedOut;
};
std::vector<Printed> resultsIn(const std::string& out) {
    std::vector<Printed> results;
    std::istringstream lines(out);
    int in = 0;
    int out_ = 0;
    for (std::string line; std::getline(lines, line);) {
        int measured = 0;
        if (std::sscanf(line.c_str(), "Measurement results: %d samples", &measured) == 1) {
            results.push_back({measured, 0, 0});
        } else if (std::sscanf(line.c_str(), "Driver-reported latencies (samples): in: %d out: %d",
                               &in, &out_) == 2) {
            for (Printed& p : results) {
                p.reportedIn = in;
                p.reportedOut = out_;
            }
        }
    }
    return results;
}

TEST(Cli, MeasuresReportsAndExitsAsTheOutcomeSays) {
    struct Case {
        const char* arguments;
        int exitCode;
        int results;
        const char* firstLine; // of standard output
        const char* stderrHolds;
    };
    const Case cases[] = {
        {"", 0, 1, "Measurement results: 544 samples / 11.33 ms",
         "[status] Measuring... Please wait"},
        {"--driver loopback --rate 44100 --buffer-size 64 --sensitivity -18dB --count 3 "
         "--sim delay=100,type=Int24LSB,gain=-9",
         0, 3, "Measurement results: 228 samples / 5.17 ms", ""},
        {"--driver 0 -b 64 --sim delay=10", 0, 1, "Measurement results: 138 samples / 2.88 ms", ""},
        {"--driver 'TARVELO LOOPBACK SIMULATOR' --sim gain=-9 -s '-18 dB'", 0, 1, "", ""},
        {"--sim gain=-9 -s -12", 1, 0, "", ""},
        {"--sim cable=off", 1, 0, "",
         "[status] Can not measure the latency.\nPlease check your connections and\nverify if "
         "input/output levels match\n"},
        {"--sim outputs=0", 1, 0, "",
         "[status] Can not measure the latency.\nThe driver has no output channel\n"},
        {"--sim init=0", 1, 0, "", "[message box] Tarvelo: Error instantiating ASIO driver\n"},
        {"--sim createfail=-994", 1, 0, "",
         "[message box] Tarvelo: ASIO Driver failed to allocate buffers\n"},
        {"--sim reset_at=1", 1, 0, "",
         "tarvelo-cli: the driver asked for a reset during each of 3 measurements; check its "
         "settings (or another program using it) and run again\n"},
        {"--list", 0, 0, "0: Tarvelo Loopback Simulator", ""},
        {"--sim-help", 0, 0, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const CliRun run = cli(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        const std::vector<Printed> results = resultsIn(run.out);
        EXPECT_EQ(results.size(), static_cast<std::size_t>(c.results)) << run.out;
        EXPECT_EQ(run.out.substr(0, run.out.find('\n')).find(c.firstLine), 0u) << run.out;
        EXPECT_NE(run.err.find(c.stderrHolds), std::string::npos) << run.err;
        for (const Printed& p : results) {
            EXPECT_LE(p.reportedIn + p.reportedOut, p.measured) << "a driver reports no more";
        }
    }
}

TEST(Cli, BadInputGetsOneLineThatSaysWhatIsValidAndExitCodeTwo) {
    const std::pair<const char*, const char*> cases[] = {
        {"--driver 'No Such Driver'", "tarvelo-cli: unknown driver 'No Such Driver'; installed: "
                                      "0 \"Tarvelo Loopback Simulator\", 1 \"JACK\"\n"},
        {"--driver 2", "tarvelo-cli: no driver at position 2; installed: 0 \"Tarvelo Loopback "
                       "Simulator\", 1 \"JACK\"\n"},
        {"--rate 12345", "tarvelo-cli: the driver does not offer 12345 Hz; offered: 22050 Hz, "
                         "32000 Hz, 44100 Hz, 48000 Hz, 96000 Hz, 192000 Hz\n"},
        {"--buffer-size 100", "tarvelo-cli: the driver does not offer a buffer of 100 samples; "
                              "offered: 32, 64, 128, 256, 512, 1024, 2048\n"},
        {"--sensitivity 5",
         "tarvelo-cli: unknown sensitivity '5'; valid: -24, -18, -12, -6 (dB)\n"},
        {"--rate abc", ""},
        {"--count 0", ""},
        {"--sim delay=-5", ""},
        {"--bogus", ""},
    };
    for (const auto& [arguments, line] : cases) {
        SCOPED_TRACE(arguments);
        const CliRun run = cli(arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(lastLine(run.err).rfind("tarvelo-cli: ", 0), 0u) << run.err;
        if (*line) {
            EXPECT_EQ(lastLine(run.err), line);
        } else {
            EXPECT_EQ(run.err, lastLine(run.err)) << "one line before any driver is opened";
        }
    }
}

} // namespace
