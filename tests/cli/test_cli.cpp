// tarvelo-cli as a user runs it: the real binary, its output streams and exit codes.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace {

struct CliRun {
    int exitCode;
    std::string out;
    std::string err;
};

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

CliRun cli(const std::string& arguments) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("tarvelo-cli-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string command = std::string(TARVELO_CLI) + " " + arguments + " >" +
                                (dir / "out").string() + " 2>" + (dir / "err").string();
    const int status = std::system(command.c_str());
    CliRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir / "out"),
               slurp(dir / "err")};
    std::filesystem::remove_all(dir);
    return run;
}

int lineCount(const std::string& text) {
    int lines = 0;
    for (char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    return lines;
}

TEST(Cli, WithNoOptionsMeasuresTheSimulatorAtItsDefaults) {
    const CliRun run = cli("");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Measurement results: 544 samples / 11.33 ms\n"
                       "Driver-reported latencies (samples): in: 264 out: 272\n");
    EXPECT_NE(run.err.find("[status] Please select ASIO driver\n"), std::string::npos);
    EXPECT_NE(run.err.find("[status] Measuring... Please wait\n"), std::string::npos);
    EXPECT_NE(run.err.find("[status] Measurement results: 544 samples / 11.33 ms\n"),
              std::string::npos);
}

TEST(Cli, ListsTheInstalledDrivers) {
    const CliRun run = cli("--list");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "0: Tarvelo Loopback Simulator\n1: JACK\n");
}

TEST(Cli, ChoosesDriverByNameOrPositionRateSizeSensitivityAndCount) {
    for (const char* driver : {"0", "'tarvelo loopback simulator'"}) {
        const CliRun run = cli(std::string("--driver ") + driver +
                               " --rate 44100 --buffer-size 64 --sensitivity -18dB --count 3"
                               " --sim delay=100,type=Int24LSB,gain=-9");
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(lineCount(run.out), 6) << run.out;
        EXPECT_EQ(run.out.rfind("Measurement results: 228 samples / 5.17 ms\n", 0), 0u) << run.out;
    }
}

TEST(Cli, TheSensitivityDecidesWhetherAQuietLoopIsHeard) {
    EXPECT_EQ(cli("--sim gain=-9 -s -12").exitCode, 1);
    EXPECT_EQ(cli("--sim gain=-9 -s '-18 dB'").exitCode, 0);
}

TEST(Cli, NoCableReportsTheFailureTextAndExitsNonZero) {
    const CliRun run = cli("--sim cable=off");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("[status] Can not measure the latency.\nPlease check your "
                           "connections and\nverify if input/output levels match\n"),
              std::string::npos);
}

TEST(Cli, DriverFailuresShowTheirMessageBoxes) {
    const CliRun init = cli("--sim init=0");
    EXPECT_EQ(init.exitCode, 1);
    EXPECT_NE(init.err.find("[message box] Tarvelo: Error instantiating ASIO driver\n"),
              std::string::npos);
    const CliRun allocation = cli("--sim createfail=-994");
    EXPECT_EQ(allocation.exitCode, 1);
    EXPECT_NE(allocation.err.find("[message box] Tarvelo: ASIO Driver failed to allocate buffers"),
              std::string::npos);
}

TEST(Cli, BadInputGetsOneLineThatSaysWhatIsValidAndExitCodeTwo) {
    struct Case {
        const char* arguments;
        const char* expected;
    };
    const Case cases[] = {
        {"--driver 'No Such Driver'",
         "tarvelo-cli: unknown driver 'No Such Driver'; installed: 0 \"Tarvelo Loopback "
         "Simulator\", 1 \"JACK\"\n"},
        {"--driver 2", "tarvelo-cli: no driver at position 2; installed: 0 \"Tarvelo Loopback "
                       "Simulator\", 1 \"JACK\"\n"},
        {"--rate 12345", "tarvelo-cli: the driver does not offer 12345 Hz; offered: 22050 Hz, "
                         "32000 Hz, 44100 Hz, 48000 Hz, 96000 Hz, 192000 Hz\n"},
        {"--buffer-size 100", "tarvelo-cli: the driver does not offer a buffer of 100 samples; "
                              "offered: 32, 64, 128, 256, 512, 1024, 2048\n"},
        {"--sensitivity 5", "tarvelo-cli: unknown sensitivity '5'; valid: -24, -18, -12, -6 "
                            "(dB)\n"},
    };
    for (const Case& c : cases) {
        const CliRun run = cli(c.arguments);
        EXPECT_EQ(run.exitCode, 2) << c.arguments;
        const auto lastLine = run.err.substr(run.err.rfind('\n', run.err.size() - 2) + 1);
        EXPECT_EQ(lastLine, c.expected) << c.arguments;
    }
    for (const char* malformed : {"--rate abc", "--buffer-size 12x", "--count 0", "--count x",
                                  "--sim delay=-5", "--sim foo=1", "--bogus"}) {
        const CliRun run = cli(malformed);
        EXPECT_EQ(run.exitCode, 2) << malformed;
        EXPECT_EQ(lineCount(run.err), 1) << malformed << ": " << run.err;
        EXPECT_EQ(run.err.rfind("tarvelo-cli: ", 0), 0u) << malformed << ": " << run.err;
    }
}

TEST(Cli, HelpTextsExitCleanly) {
    EXPECT_EQ(cli("--help").exitCode, 0);
    const CliRun sim = cli("--sim-help");
    EXPECT_EQ(sim.exitCode, 0);
    EXPECT_NE(sim.out.find("delay"), std::string::npos);
}

} // namespace
