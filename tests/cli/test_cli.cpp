// tarvelo-cli as a user runs it: the real binary against the simulator, its output streams and
// exit codes; repeats with statistics, sweeps with their fits, JSON, CSV, WAV and SVG, and the
// checks made before anything is measured.

#include "drivers/sim/sim_settings.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>
#include <nlohmann/json.hpp>
#include <sndfile.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Json = nlohmann::json;

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

// Runs the program in a scratch folder of its own, removed again after each test.
class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        m_folder = std::filesystem::temp_directory_path() /
                   ("tarvelo-cli-" + std::string(test->name()) + "-" + std::to_string(getpid()));
        std::filesystem::remove_all(m_folder);
        std::filesystem::create_directories(m_folder / "files");
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

    // Files the program is asked to write go here; its streams are kept apart.
    std::filesystem::path file(const std::string& name) const { return m_folder / "files" / name; }

    CliRun cli(const std::string& arguments, const char* program = TARVELO_CLI) const {
        const std::string command = std::string(program) + " " + arguments + " >" +
                                    (m_folder / "out").string() + " 2>" +
                                    (m_folder / "err").string();
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(m_folder / "out"),
                slurp(m_folder / "err")};
    }

private:
    std::filesystem::path m_folder;
};

std::string lastLine(const std::string& text) {
    return text.substr(text.rfind('\n', text.size() - 2) + 1);
}

SimSettings simSettings(const std::string& text) {
    SimSettings settings;
    std::string error;
    EXPECT_TRUE(parseSimSettings(text, settings, &error)) << error;
    return settings;
}

int count(const std::string& text, const std::string& part) {
    int found = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++found;
    }
    return found;
}

const xmlChar* xml(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}

// The values of `expression` (an XPath that selects attributes) in the SVG file.
std::vector<std::string> svgValues(const std::filesystem::path& path, const char* expression) {
    std::vector<std::string> values;
    xmlDocPtr document = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET);
    EXPECT_NE(document, nullptr) << path << " is not well-formed XML";
    if (!document) {
        return values;
    }
    xmlXPathContextPtr context = xmlXPathNewContext(document);
    xmlXPathRegisterNs(context, xml("svg"), xml("http://www.w3.org/2000/svg"));
    xmlXPathObjectPtr found = xmlXPathEvalExpression(xml(expression), context);
    for (int i = 0; found && found->nodesetval && i < found->nodesetval->nodeNr; ++i) {
        xmlChar* text = xmlNodeGetContent(found->nodesetval->nodeTab[i]);
        values.emplace_back(reinterpret_cast<const char*>(text));
        xmlFree(text);
    }
    xmlXPathFreeObject(found);
    xmlXPathFreeContext(context);
    xmlFreeDoc(document);
    return values;
}

// The horizontal axis's value at `x` pixels, from its first and last tick labels.
double onAxis(const std::filesystem::path& svg, double x) {
    const std::vector<std::string> values = svgValues(svg, "//svg:text[@class='x-tick']");
    const std::vector<std::string> at = svgValues(svg, "//svg:text[@class='x-tick']/@x");
    EXPECT_GE(values.size(), 2u);
    if (values.size() < 2 || at.size() != values.size()) {
        return NAN;
    }
    const double v0 = std::stod(values.front()), v1 = std::stod(values.back());
    const double x0 = std::stod(at.front()), x1 = std::stod(at.back());
    return v0 + (x - x0) * (v1 - v0) / (x1 - x0);
}

struct Wav {
    SF_INFO info{};
    std::vector<std::vector<float>> channels;
};

Wav readWav(const std::filesystem::path& path) {
    Wav wav;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &wav.info);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    if (!file) {
        return wav;
    }
    std::vector<float> frames(static_cast<std::size_t>(wav.info.frames * wav.info.channels));
    EXPECT_EQ(sf_readf_float(file, frames.data(), wav.info.frames), wav.info.frames);
    sf_close(file);
    wav.channels.assign(static_cast<std::size_t>(wav.info.channels),
                        std::vector<float>(static_cast<std::size_t>(wav.info.frames)));
    for (std::size_t n = 0; n < wav.channels.front().size(); ++n) {
        for (std::size_t c = 0; c < wav.channels.size(); ++c) {
            wav.channels[c][n] = frames[n * wav.channels.size() + c];
        }
    }
    return wav;
}

TEST_F(Cli, MeasuresReportsAndExitsAsTheOutcomeSays) {
    struct Case {
        const char* arguments;
        int exitCode;
        int results;
        const char* firstLine; // of standard output
        const char* stderrHolds;
    };
    const Case cases[] = {
        {"", 0, 1, "Measurement results: 544 samples / 11.33 ms", ""},
        {"--driver loopback --rate 44100 --buffer-size 64 --sensitivity -18dB --count 3 "
         "--sim delay=100,type=Int24LSB,gain=-9",
         0, 3, "Measurement results: 228 samples / 5.17 ms", ""},
        {"--driver 0 -b 64 --sim delay=10", 0, 1, "Measurement results: 138 samples / 2.88 ms", ""},
        {"--driver 'TARVELO LOOPBACK SIMULATOR' --sim gain=-9 -s '-18 dB'", 0, 1, "", ""},
        {"--sim gain=-9 -s -12", 1, 0, "",
         "tarvelo-cli: nothing came back: no input crossed the -12 dB threshold within one "
         "second's worth of samples\ntarvelo-cli: the threshold found nothing; a correlation "
         "measurement found the loop at 544.00 samples, its level 3.0 dB below the threshold"},
        {"--sim outputs=0", 1, 0, "",
         "tarvelo-cli: cannot measure: the driver has no output channel\n"},
        {"--sim init=0", 1, 0, "",
         "tarvelo-cli: the driver \"Tarvelo Loopback Simulator\" did not start up (it gives no "
         "reason)\n"},
        {"--sim createfail=-994", 1, 0, "",
         "tarvelo-cli: the driver could not allocate buffers of 256 samples: createBuffers: "
         "failure injected by the settings\n"},
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
        EXPECT_EQ(count(run.out, "Measurement results: "), c.results) << run.out;
        EXPECT_EQ(run.out.substr(0, run.out.find('\n')).find(c.firstLine), 0u) << run.out;
        EXPECT_NE(run.err.find(c.stderrHolds), std::string::npos) << run.err;
        EXPECT_EQ(c.exitCode == 0, run.err.empty()) << run.err;
    }
}

TEST_F(Cli, ASweepRecoversTheLoopDelayAndDoubleBufferingAtEveryRate) {
    struct Case {
        std::string sim;
        std::string lists;
    };
    const Case cases[] = {
        {"pace=freewheel", ""}, // every rate and size the simulator offers
        {"pace=freewheel,delay=100,type=Int16LSB,inlatency=30,outlatency=3",
         "--sweep-rates 44100,96000 --sweep-sizes 64,256,1024"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sim);
        const SimSettings settings = simSettings(c.sim);
        const CliRun run = cli("--sweep --format json --quiet --plot " +
                               file("sweep.svg").string() + " " + c.lists + " --sim " + c.sim);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "");
        const Json report = Json::parse(run.out);
        EXPECT_EQ(report["kind"], "sweep");

        std::set<double> rates;
        std::set<int> sizes;
        for (const Json& cell : report["measurements"]) {
            rates.insert(cell["sampleRate"].get<double>());
            sizes.insert(cell["bufferSize"].get<int>());
            EXPECT_EQ(cell["unreported"]["samples"], settings.unreportedDelay()) << cell;
        }
        EXPECT_EQ(report["measurements"].size(), rates.size() * sizes.size());
        EXPECT_GT(sizes.size(), 1u);
        ASSERT_EQ(report["fits"].size(), rates.size());
        for (const Json& fit : report["fits"]) {
            EXPECT_EQ(fit["fixed"]["samples"], settings.loopDelay) << fit;
            EXPECT_EQ(fit["perBuffer"], 2.0) << fit;
            EXPECT_EQ(fit["points"], sizes.size());
        }
        EXPECT_EQ(svgValues(file("sweep.svg"), "//svg:circle[@class='measured']/@cx").size(),
                  report["measurements"].size());
    }
}

TEST_F(Cli, RepeatsReportEveryRunAndTheirStatisticsInEachFormat) {
    const std::string setup = " --rate 44100 --buffer-size 128 --sim pace=freewheel -q";
    const double latency = 2 * 128 + 32;

    const Json json = Json::parse(cli("--repeat 3 --format json" + setup).out);
    EXPECT_EQ(json["version"], TARVELO_VERSION);
    EXPECT_EQ(json["method"], "threshold");
    ASSERT_EQ(json["measurements"].size(), 3u);
    for (const Json& run : json["measurements"]) {
        EXPECT_EQ(run["sampleRate"], 44100.0);
        EXPECT_EQ(run["bufferSize"], 128);
        EXPECT_EQ(run["latency"]["samples"], latency);
        EXPECT_DOUBLE_EQ(run["latency"]["ms"].get<double>(), latency * 1000 / 44100);
        EXPECT_EQ(run["latency"]["samples"].get<double>(),
                  run["reported"]["input"].get<double>() + run["reported"]["output"].get<double>() +
                      run["unreported"]["samples"].get<double>());
        EXPECT_GE(run["unreported"]["samples"], 0) << "a driver reports no more than the loop";
    }
    const Json& stats = json["statistics"];
    EXPECT_EQ(stats["runs"], 3);
    EXPECT_EQ(stats["found"], 3);
    for (const char* figure : {"min", "median", "max", "mean"}) {
        EXPECT_EQ(stats["samples"][figure], latency) << figure;
    }
    EXPECT_EQ(stats["samples"]["standardDeviation"], 0.0);

    // --count is the same option; CSV has a header and one row per run.
    const CliRun csv = cli("--count 4 --format csv" + setup);
    EXPECT_EQ(csv.exitCode, 0);
    EXPECT_EQ(count(csv.out, "\n"), 1 + 4) << csv.out;
    std::istringstream rows(csv.out);
    std::string row;
    std::getline(rows, row); // the header
    while (std::getline(rows, row)) {
        EXPECT_NE(row.find(",288,"), std::string::npos) << row;
    }

    const CliRun text = cli("--repeat 2" + setup);
    EXPECT_EQ(text.out.rfind("Measurement results: 288 samples / 6.53 ms\n", 0), 0u) << text.out;
    EXPECT_NE(text.out.find("Statistics of 2 measurements (samples): min 288.0"), std::string::npos)
        << text.out;
}

TEST_F(Cli, TheWavHoldsTheStimulusAndEveryInputOnOneTimelineAndThePlotMarksTheOnset) {
    const CliRun run = cli("--format json -q --wav " + file("loop.wav").string() + " --plot " +
                           file("onset.svg").string() +
                           " --buffer-size 64 --sim pace=freewheel,inputs=3,delay=77");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Json measured = Json::parse(run.out)["measurements"][0];
    const auto latency = measured["latency"]["samples"].get<std::size_t>();

    const Wav wav = readWav(file("loop.wav"));
    EXPECT_EQ(wav.info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(wav.info.samplerate, measured["sampleRate"].get<int>());
    ASSERT_EQ(wav.channels.size(), 1u + 3u); // the stimulus, then each input
    const std::vector<float>& stimulus = wav.channels[0];
    ASSERT_GT(stimulus.size(), latency);
    EXPECT_GT(stimulus[0], 0.0f);
    for (std::size_t input = 1; input < wav.channels.size(); ++input) {
        // Input 3 has no cable: it stays silent.
        const bool cabled = input <= 2;
        for (std::size_t n = 0; n < stimulus.size(); ++n) {
            const float expected = cabled && n >= latency ? stimulus[n - latency] : 0.0f;
            ASSERT_EQ(wav.channels[input][n], expected) << "input " << input << ", sample " << n;
        }
    }

    EXPECT_EQ(svgValues(file("onset.svg"), "//svg:*[@class='onset']/@data-sample"),
              std::vector<std::string>{std::to_string(latency)});
    EXPECT_EQ(svgValues(file("onset.svg"), "//svg:*[@class='threshold']/@class").size(), 1u);
    // Written whole under another name, then renamed: nothing else is left beside them.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file("")),
                            std::filesystem::directory_iterator()),
              2);
}

TEST_F(Cli, OnlyAMethodThatKnowsThemAddsPolarityConfidenceAndDiagnoses) {
    struct Case {
        const char* arguments;
        int polarity; // 0: none given
        const char* diagnosis;
        const char* mark; // on the plot, at the latency
    };
    const Case cases[] = {
        {"--method threshold --sim pace=freewheel", 0, nullptr, "onset"},
        {"--method correlation --sim pace=freewheel,invert=1", -1, "invertedPolarity", "peak"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const CliRun run =
            cli(std::string(c.arguments) + " -q -f json --plot " + file("plot.svg").string());
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const Json measured = Json::parse(run.out)["measurements"][0];
        EXPECT_EQ(measured.contains("polarity"), c.polarity != 0) << measured;
        EXPECT_EQ(measured.contains("confidence"), c.polarity != 0) << measured;
        if (c.polarity != 0) {
            EXPECT_EQ(measured["polarity"], c.polarity);
            EXPECT_NE(std::find(measured["diagnoses"].begin(), measured["diagnoses"].end(),
                                Json{{"kind", c.diagnosis}}),
                      measured["diagnoses"].end())
                << measured;
        }
        const std::string mark = std::string("//svg:*[@class='") + c.mark + "']";
        const std::vector<std::string> marks =
            svgValues(file("plot.svg"), (mark + "/@data-sample").c_str());
        ASSERT_EQ(marks.size(), 1u);
        EXPECT_NEAR(std::stod(marks[0]), measured["latency"]["samples"].get<double>(), 1e-6);
        // Read off the axis, the mark stands where its figure says.
        const std::vector<std::string> at = svgValues(file("plot.svg"), (mark + "/@x1").c_str());
        ASSERT_EQ(at.size(), 1u);
        EXPECT_NEAR(onAxis(file("plot.svg"), std::stod(at[0])), std::stod(marks[0]), 0.5);
    }
}

// A plot with no latency on it says what the input did hear.
TEST_F(Cli, APlotWithoutALatencySaysWhatTheInputHeard) {
    const std::pair<const char*, const char*> cases[] = {
        {"gain=-30", "under the threshold: peak -36.0 dBFS, 24.0 dB below"},
        {"cable=off", "nothing came back: the input stayed silent"},
    };
    for (const auto& [sim, said] : cases) {
        SCOPED_TRACE(sim);
        const CliRun run = cli(std::string("-q --plot ") + file("plot.svg").string() +
                               " --sim pace=freewheel," + sim);
        EXPECT_EQ(run.exitCode, 1);
        const std::vector<std::string> legend =
            svgValues(file("plot.svg"), "//svg:text[@class='legend']");
        EXPECT_NE(std::find(legend.begin(), legend.end(), said), legend.end())
            << ::testing::PrintToString(legend);
    }
}

TEST_F(Cli, QuietLeavesOnlyResultsAndErrors) {
    const CliRun measured = cli("--quiet --sim pace=freewheel");
    EXPECT_EQ(measured.err, "");
    EXPECT_EQ(count(measured.out, "\n"), 2);

    const CliRun failed = cli("--quiet --sim pace=freewheel,cable=off");
    EXPECT_EQ(failed.err.rfind("tarvelo-cli: nothing came back", 0), 0u) << failed.err;
    EXPECT_EQ(count(failed.err, "\n"), 2) << "and why: " << failed.err;
    // A driver that cannot measure at all says so, quiet or not.
    const CliRun refused = cli("--quiet --sim pace=freewheel,inputs=0");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err, "tarvelo-cli: cannot measure: the driver has no input channel\n");

    // Resets are noticed, unless quiet.
    EXPECT_EQ(count(cli("--sim pace=freewheel,reset_at=1").err, "asked for a reset\n"), 3);
}

// A measurement that cannot be made ends the run at once, in one line, and the report records
// it: as the measurement that failed in CSV, as the failure with the runs planned in JSON.
TEST_F(Cli, AMeasurementThatCannotBeMadeEndsTheRunAndIsRecordedInTheReport) {
    const CliRun json = cli("--repeat 5 -q --format json --sim pace=freewheel,reset_at=1");
    EXPECT_EQ(json.exitCode, 1);
    EXPECT_EQ(count(json.err, "\n"), 1) << json.err;
    const Json report = Json::parse(json.out);
    EXPECT_TRUE(report["measurements"].empty());
    EXPECT_EQ(report["failure"]["kind"], "tooManyResets");
    EXPECT_EQ(report["failure"]["planned"], 5);
    EXPECT_EQ("tarvelo-cli: " + report["failure"]["message"].get<std::string>() + "\n", json.err);

    const CliRun csv = cli("--sweep -q --format csv --sim pace=freewheel,createfail=-994");
    EXPECT_EQ(csv.exitCode, 1);
    EXPECT_EQ(lastLine(csv.out).rfind("1,\"Tarvelo Loopback Simulator\",,22050,32,,", 0), 0u)
        << csv.out;
    EXPECT_NE(lastLine(csv.out).find("injected"), std::string::npos) << csv.out;

    const CliRun text = cli("--repeat 2 --sim pace=freewheel,createfail=-994");
    EXPECT_EQ(text.out, "");
    EXPECT_EQ(count(text.err, "\n"), 1) << text.err;
}

// A driver added by its folder and one entry in a list of drivers, in a tarvelo-cli built over
// that list (tests/drivers): the catalog lists it, it measures, its option is the program's.
TEST_F(Cli, ADriverAddedByItsFolderAndOneEntryIsOfferedListedAndMeasured) {
    EXPECT_EQ(cli("--list", TARVELO_CLI_FIXED_LOOP).out, "0: Fixed Loop\n");
    for (const auto& [buffers, measured] : {std::pair{"0", 128}, {"9", 704}}) {
        const CliRun run =
            cli(std::string("-d fixed -q --loop-buffers ") + buffers, TARVELO_CLI_FIXED_LOOP);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out.rfind("Measurement results: " + std::to_string(measured) + " samples", 0),
                  0u)
            << run.out;
    }
    const CliRun refused = cli("--loop-buffers 10", TARVELO_CLI_FIXED_LOOP);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.err, "tarvelo-cli: --loop-buffers: expected one digit (see --help)\n");
}

// Bad input exits 2 with one line, and nothing else, that says what is valid where it can,
// before anything is measured or written.
TEST_F(Cli, BadInputStopsWithOneLineBeforeAnythingIsMeasured) {
    struct Case {
        std::string arguments;
        std::string line; // empty: any one line
    };
    const std::string wav = file("out.wav").string();
    const std::filesystem::path folderNamedSvg = file("").parent_path().parent_path() / "in.svg";
    std::filesystem::create_directory(folderNamedSvg);
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
        {"--jack-in system:capture_1", "tarvelo-cli: --jack-in applies to the JACK driver only\n"},
        {"--sensitivity 5",
         "tarvelo-cli: unknown sensitivity '5'; valid: -24, -18, -12, -6 (dB)\n"},
        {"--rate abc", "tarvelo-cli: --rate: 'abc' is not a number (see --help)\n"},
        {"--count 0", "tarvelo-cli: --repeat: '0' is not a whole number from 1 to 1000 (see "
                      "--help)\n"},
        {"--sim delay=-5", ""},
        {"--bogus", "tarvelo-cli: unknown option --bogus (see --help)\n"},
        {"--buffersize 128",
         "tarvelo-cli: unknown option --buffersize; did you mean --buffer-size?\n"},
        {"--Jack-Chanels=3",
         "tarvelo-cli: unknown option --Jack-Chanels; did you mean --jack-channels?\n"},
        {"48000", "tarvelo-cli: unexpected argument '48000' (see --help)\n"},
        {"--format xml",
         "tarvelo-cli: --format: unknown value 'xml'; valid: text, json, csv (see --help)\n"},
        {"--method Threshold --rate", "tarvelo-cli: --rate needs a value (see --help)\n"},
        {"--wav /no/such/folder/out.wav", ""},
        {"--plot " + folderNamedSvg.string(), ""},
        {"--plot " + file("onset.png").string(),
         "tarvelo-cli: --plot: '" + file("onset.png").string() +
             "' does not end in .svg, the one format written (see --help)\n"},
        {"--wav " + file("loop.flac").string(), ""},
        {"--sweep --repeat 2", ""},
        {"--sweep --rate 48000", ""},
        {"--sweep --buffer-size 64", ""},
        {"--sweep --wav " + wav, ""},
        {"--sweep-sizes 64", ""},
        {"--sweep --sweep-sizes 64,100", ""},
        {"--sweep --sweep-rates 48000,12345", ""},
        {"--list --plot " + file("out.svg").string(), ""},
        {"--sim-help --wav " + wav, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const CliRun run = cli(c.arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("tarvelo-cli: ", 0), 0u) << run.err;
        EXPECT_EQ(count(run.err, "\n"), 1) << run.err;
        if (!c.line.empty()) {
            EXPECT_EQ(run.err, c.line);
        }
        EXPECT_TRUE(std::filesystem::is_empty(file("")));
    }
}

// Help names each option's value as users write it, and nothing of the parser behind it.
TEST_F(Cli, HelpShowsOptionValuesAsUsersWriteThem) {
    const CliRun help = cli("--help");
    ASSERT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--format FORMAT "), std::string::npos) << help.out;
    for (const char* internal : {"ENUM", "TEXT", "INT", "FLOAT", "{", "->", "Excludes", "Needs"}) {
        EXPECT_EQ(help.out.find(internal), std::string::npos) << internal << " in " << help.out;
    }
}

} // namespace
