// tarvelo-cli.exe as a Windows user runs it: the simulator's driver DLL registered with
// regsvr32 and scripted through its registry settings, the program started with its output
// streams in files. Its reports and files must be what the Linux program makes.

#include <windows.h>

#include "drivers/sim/loopback_sim.h"
#include "run_program.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using Json = nlohmann::json;

const std::string kDriverKey = "HKLM\\SOFTWARE\\ASIO\\Tarvelo Loopback Simulator";

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct ProgramRun {
    long exitCode = -1; // -1: it did not start or did not end in time
    std::string out;
    std::string err;
};

class InstalledCli : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::remove_all(files());
        std::filesystem::create_directories(files());
        ASSERT_EQ(run("regsvr32.exe /s " + quoted(windowsPath(TARVELO_SIM_DLL))).exitCode, 0);
    }
    void TearDown() override {
        EXPECT_EQ(run("regsvr32.exe /u /s " + quoted(windowsPath(TARVELO_SIM_DLL))).exitCode, 0);
    }

    // A value of the simulator's driver key (`key`, or a copy of it), as its users are told to
    // set its settings.
    void setValue(const std::string& name, const std::string& data,
                  const std::string& key = kDriverKey) {
        ASSERT_EQ(run("reg.exe add " + quoted(key) + " /v " + name + " /d " + quoted(data) + " /f")
                      .exitCode,
                  0);
    }
    void simulate(const std::string& settings) { setValue("Settings", settings); }

    // Where the program is asked to write; emptied for each test.
    static std::filesystem::path files() { return logs() / "files"; }
    static std::string file(const std::string& name) { return (files() / name).string(); }

    ProgramRun cli(const std::string& arguments) {
        return run(quoted(windowsPath(TARVELO_CLI)) + " " + arguments);
    }

    ProgramRun run(const std::string& commandLine) {
        static int runs = 0;
        const std::filesystem::path out = logs() / ("out-" + std::to_string(++runs));
        const std::filesystem::path err = logs() / ("err-" + std::to_string(runs));
        const long exitCode = runProgram(commandLine, out.string(), err.string());
        return {exitCode, slurp(out), slurp(err)};
    }

private:
    // Each run's output streams, kept apart and left in the session's prefix: programs that a
    // started program starts may inherit the handles and hold the files a while longer.
    static std::filesystem::path logs() {
        return std::filesystem::temp_directory_path() /
               ("tarvelo-cli-" + std::to_string(GetCurrentProcessId()));
    }
};

TEST_F(InstalledCli, RepeatsWriteJsonAWavAndAPlotOfTheOnset) {
    simulate("pace=freewheel,delay=100");
    const ProgramRun run = cli("--repeat 2 --format json --quiet --wav " + file("loop.wav") +
                               " --plot " + file("onset.svg"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const Json report = Json::parse(run.out);
    EXPECT_EQ(report["driver"], "Tarvelo Loopback Simulator");
    ASSERT_EQ(report["measurements"].size(), 2u);
    const double latency = 2 * report["measurements"][0]["bufferSize"].get<double>() + 100;
    EXPECT_EQ(report["statistics"][0]["samples"]["median"], latency);
    EXPECT_EQ(report["measurements"][1]["unreported"]["samples"], 100 - 8 - 16);

    // What the WAV holds, libsndfile checks on Linux (test_wav_riff); here it must be there,
    // as a RIFF file of floats at least as long as the latency.
    const std::string wav = slurp(file("loop.wav"));
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_GT(wav.size(), 58 + 3 * 4 * latency);
    const std::string svg = slurp(file("onset.svg"));
    EXPECT_NE(svg.find("class=\"onset\" data-sample=\"" +
                       std::to_string(static_cast<int>(latency)) + "\""),
              std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(files()),
                            std::filesystem::directory_iterator()),
              2);

    // Written again, the files are replaced whole.
    ASSERT_EQ(cli("--quiet --wav " + file("loop.wav")).exitCode, 0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(files()),
                            std::filesystem::directory_iterator()),
              2);
}

// A driver that crashes as COM unloads it leaves the exit code as the run decided it; a part of a
// name finds one driver, or names every driver it matches.
TEST_F(InstalledCli, TheExitCodeSurvivesADriverCrashingAsItIsUnloadedAndNamesMatchInPart) {
    setValue("CrashOnUnload", "1");
    EXPECT_EQ(cli("--quiet").exitCode, 0);
    setValue("CLSID", kLoopbackSimClassIdText, kDriverKey + " 2");
    setValue("Description", "Tarvelo Loopback Simulator 2", kDriverKey + " 2");
    const ProgramRun several = cli("--driver loopback");
    EXPECT_EQ(several.exitCode, 2);
    EXPECT_NE(several.err.find("'loopback' matches several drivers: 0 \"Tarvelo Loopback "
                               "Simulator\" 1 \"Tarvelo Loopback Simulator 2\""),
              std::string::npos)
        << several.err;
    const ProgramRun second = cli("--driver \"simulator 2\" --quiet");
    EXPECT_EQ(second.exitCode, 0) << second.err;
    run("reg.exe delete " + quoted(kDriverKey + " 2") + " /f");
}

// With no driver installed, tarvelo-cli says so rather than naming a driver the user never
// asked for; the options of the drivers it has only on Linux are refused with where they are.
TEST_F(InstalledCli, WithNoDriverInstalledEveryRunSaysSo) {
    ASSERT_EQ(run("regsvr32.exe /u /s " + quoted(windowsPath(TARVELO_SIM_DLL))).exitCode, 0);
    const std::string noDriver = "tarvelo-cli: no ASIO driver is installed";
    const ProgramRun list = cli("--list");
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.out, "");
    EXPECT_EQ(list.err.rfind(noDriver, 0), 0u) << list.err;
    for (const char* arguments : {"", "--driver 0", "--quiet"}) {
        const ProgramRun plain = cli(arguments);
        EXPECT_EQ(plain.exitCode, 1) << arguments;
        EXPECT_EQ(plain.err.rfind(noDriver, 0), 0u) << arguments << ": " << plain.err;
    }
    ASSERT_EQ(run("regsvr32.exe /s " + quoted(windowsPath(TARVELO_SIM_DLL))).exitCode, 0);

    const ProgramRun sim = cli("--sim delay=100");
    EXPECT_EQ(sim.exitCode, 2);
    EXPECT_EQ(sim.err.rfind("tarvelo-cli: --sim: the built-in loopback simulator is part of "
                            "tarvelo-cli on Linux only",
                            0),
              0u)
        << sim.err;
}

} // namespace
