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
        const std::vector<std::string> marks =
            svgValues(file("plot.svg"),
                      (std::string("//svg:*[@class='") + c.mark + "']/@data-sample").c_str());
        ASSERT_EQ(marks.size(), 1u);
        EXPECT_NEAR(std::stod(marks[0]), measured["latency"]["samples"].get<double>(), 1e-6);
    }
}

TEST_F(Cli, QuietLeavesOnlyResultsAndErrors) {
    const CliRun measured = cli("--quiet --sim pace=freewheel");
    EXPECT_EQ(measured.err, "");
    EXPECT_EQ(count(measured.out, "\n"), 3) << "the result, the driver's figures, the channels";

    const CliRun failed = cli("--quiet --sim pace=freewheel,cable=off");
    EXPECT_EQ(failed.err.rfind("tarvelo-cli: nothing came back", 0), 0u) << failed.err;
    EXPECT_EQ(count(failed.err, "\n"), 2) << "and why: " << failed.err;

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
        {"--rate abc", ""},
        {"--count 0", ""},
        {"--sim delay=-5", ""},
        {"--bogus", ""},
        {"--format xml", ""},
        {"--wav /no/such/folder/out.wav", ""},
        {"--plot " + file("x").parent_path().string(), ""}, // a folder
        {"--wav " + wav + " --plot " + wav, ""},
        {"--sweep --repeat 2", ""},
        {"--sweep --rate 48000", ""},
        {"--sweep --buffer-size 64", ""},
        {"--sweep --wav " + wav, ""},
        {"--sweep-sizes 64", ""},
        {"--sweep --sweep-sizes 64,100", ""},
        {"--sweep --sweep-rates 48000,12345", ""},
        {"--list --plot " + wav, ""},
        {"--sim-help --wav " + wav, ""},
        {"--output 7", "tarvelo-cli: no output at position 7; the driver's outputs: 0 \"Sim Out "
                       "1\", 1 \"Sim Out 2\"\n"},
        {"--input 'line 5'", "tarvelo-cli: unknown input 'line 5'; the driver's inputs: 0 \"Sim "
                             "In 1\", 1 \"Sim In 2\"\n"},
        {"--input 1 --input 'IN 2'", "tarvelo-cli: input 1 \"Sim In 2\" is chosen twice\n"},
        {"--output sim", ""},
        {"--sim outputs=0 --output 0", ""},
        {"--matrix --sweep", ""},
        {"--matrix --repeat 2", ""},
        {"--matrix --wav " + wav, ""},
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

// The pulse goes to the chosen outputs only, and each result names them and the input that
// heard it by the driver's numbers and names, whatever position the input has among those chosen.
TEST_F(Cli, OnlyTheChosenChannelsAreMeasuredAndEveryResultNamesThem) {
    // Input 0 hears output 1 sooner than output 0; every other input its own output.
    const std::string sim = " -q -f json --sim 'pace=freewheel,inputs=4,outputs=4,route=0>1@10:"
                            "0>0@50:1>1:2>2:3>3'";
    struct Case {
        const char* choice;
        double latency;
        std::vector<int> outputs;
        int input;
    };
    const Case cases[] = {
        {"", 2 * 256 + 10, {0, 1, 2, 3}, 0},
        {"--output 0 --input 0", 2 * 256 + 50, {0}, 0},
        {"--input 0 --output 'OUT 2' --output 0", 2 * 256 + 10, {1, 0}, 0},
        {"--input 3 --input 2 --output 3", 2 * 256 + 32, {3}, 3},
        {"--output 2 --input 3", 0, {2}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.choice);
        const CliRun run = cli(c.choice + sim);
        EXPECT_EQ(run.exitCode, c.input < 0 ? 1 : 0) << run.err;
        const Json result = Json::parse(run.out)["measurements"][0];
        std::vector<int> outputs;
        for (const Json& output : result["outputs"]) {
            outputs.push_back(output["index"]);
            EXPECT_EQ(output["name"], "Sim Out " + std::to_string(outputs.back() + 1));
        }
        EXPECT_EQ(outputs, c.outputs);
        if (c.input < 0) {
            EXPECT_TRUE(result["input"].is_null());
            EXPECT_TRUE(result["latency"].is_null());
            continue;
        }
        EXPECT_EQ(result["latency"]["samples"], c.latency);
        EXPECT_EQ(result["input"],
                  (Json{{"index", c.input}, {"name", "Sim In " + std::to_string(c.input + 1)}}));
        EXPECT_EQ(result["inputChannel"], c.input);
    }
    const CliRun text = cli("--output 1 --input 'in 1'" + sim.substr(0, sim.find(" -f json")) +
                            sim.substr(sim.find(" --sim")));
    EXPECT_NE(text.out.find("\nChannels: output 1 \"Sim Out 2\" -> input 0 \"Sim In 1\"\n"),
              std::string::npos)
        << text.out;
    const CliRun csv = cli("--output 1 --input 0 -q -f csv" + sim.substr(sim.find(" --sim")));
    EXPECT_NE(csv.out.find(",1,\"Sim Out 2\",0,\"Sim In 1\"\n"), std::string::npos) << csv.out;
}

struct RoutedPair {
    int input;
    int output;
    int delay;
};

std::string routeOf(const std::vector<RoutedPair>& pairs) {
    std::string route;
    for (const RoutedPair& pair : pairs) {
        route += (route.empty() ? "" : ":") + std::to_string(pair.input) + ">" +
                 std::to_string(pair.output) + "@" + std::to_string(pair.delay);
    }
    return route;
}

// Every pair of the matrix against the routing: its latency where a path was routed (exactly,
// or within `tolerance`), "no path" elsewhere.
void expectMatrix(const Json& matrix, const std::vector<RoutedPair>& routed, int channels,
                  double tolerance) {
    ASSERT_EQ(matrix["pairs"].size(), static_cast<std::size_t>(channels * channels));
    for (const Json& pair : matrix["pairs"]) {
        const int output = pair["output"]["index"];
        const int input = pair["input"]["index"];
        SCOPED_TRACE(testing::Message() << "output " << output << ", input " << input);
        const auto path = std::find_if(routed.begin(), routed.end(), [&](const RoutedPair& r) {
            return r.output == output && r.input == input;
        });
        EXPECT_EQ(pair["path"], path != routed.end());
        if (path == routed.end()) {
            EXPECT_TRUE(pair["latency"].is_null());
            continue;
        }
        EXPECT_EQ(pair["verdict"], "verified");
        EXPECT_NEAR(pair["latency"]["samples"].get<double>(), 2 * 256 + path->delay, tolerance);
    }
}

TEST_F(Cli, TheMatrixRecoversEveryPairOfARoutingAndNamesWhatItShows) {
    // Analog pairs near 40 samples, one digital port at 8, channels 1 and 2 swapped, and input 3
    // hearing output 0 too, as a mixer route.
    const std::vector<RoutedPair> routed{
        {0, 0, 40}, {1, 2, 40}, {2, 1, 41}, {3, 3, 8}, {3, 0, 100}};
    const std::string setup =
        " --matrix -q --sim 'pace=freewheel,inputs=4,outputs=4,route=" + routeOf(routed) + "'";
    const Json expectedFindings = Json::parse(R"([
        {"kind": "latencyApart", "output": {"index": 0, "name": "Sim Out 1"},
         "input": {"index": 3, "name": "Sim In 4"}, "apartSamples": 60.0, "medianSamples": 552.0},
        {"kind": "latencyApart", "output": {"index": 3, "name": "Sim Out 4"},
         "input": {"index": 3, "name": "Sim In 4"}, "apartSamples": -32.0, "medianSamples": 552.0},
        {"kind": "severalOutputs", "input": {"index": 3, "name": "Sim In 4"},
         "outputs": [{"index": 0, "name": "Sim Out 1"}, {"index": 3, "name": "Sim Out 4"}]},
        {"kind": "swapped", "channels": [1, 2]}])");
    for (const auto& [method, tolerance] : {std::pair{"threshold", 0.0}, {"correlation", 0.01}}) {
        SCOPED_TRACE(method);
        const CliRun run = cli(std::string("-f json -m ") + method + setup);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        const Json json = Json::parse(run.out);
        EXPECT_EQ(json["kind"], "matrix");
        expectMatrix(json["matrix"], routed, 4, tolerance);
        EXPECT_EQ(json["matrix"]["findings"], expectedFindings);
    }

    const CliRun text = cli("--plot " + file("matrix.svg").string() + setup);
    EXPECT_EQ(text.exitCode, 0) << text.err;
    for (const char* finding :
         {"Finding: output 3 \"Sim Out 4\" -> input 3 \"Sim In 4\" takes -32.00 samples",
          "Finding: input 3 \"Sim In 4\" hears several outputs: 0 \"Sim Out 1\", 3 \"Sim Out 4\"",
          "Finding: channels 1 and 2 are swapped"}) {
        EXPECT_NE(text.out.find(finding), std::string::npos) << text.out;
    }
    const std::vector<std::string> verdicts =
        svgValues(file("matrix.svg"), "//svg:rect[@class='pair']/@data-verdict");
    EXPECT_EQ(verdicts.size(), 16u);
    EXPECT_EQ(std::count(verdicts.begin(), verdicts.end(), "verified"), 5);
    EXPECT_EQ(svgValues(file("matrix.svg"), "//svg:*[@class='finding']/@class").size(), 4u);
    const CliRun csv = cli("-f csv" + setup);
    EXPECT_EQ(count(csv.out, "\n"), 1 + 16) << csv.out;
    EXPECT_NE(csv.out.find("\n3,\"Sim Out 4\",3,\"Sim In 4\",threshold,48000,256,yes,520,"),
              std::string::npos)
        << csv.out;
}

// Random routings, each input hearing at most one output (or none) after any delay: the
// threshold's matrix finds each exactly, and an output heard nowhere is named.
TEST_F(Cli, TheMatrixRecoversSeededRandomRoutings) {
    for (const unsigned seed : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(seed);
        std::srand(seed);
        std::vector<int> outputs{0, 1, 2};
        std::vector<RoutedPair> routed;
        for (int input = 0; input < 3; ++input) {
            const int output = outputs[static_cast<std::size_t>(std::rand() % 3)];
            if (std::rand() % 4 != 0) {
                routed.push_back({input, output, std::rand() % 300});
            }
        }
        std::string route = routeOf(routed);
        for (int input = 0; input < 3; ++input) {
            if (std::none_of(routed.begin(), routed.end(),
                             [input](const RoutedPair& r) { return r.input == input; })) {
                route += (route.empty() ? "" : ":") + std::to_string(input) + ">-";
            }
        }
        const CliRun run = cli(
            "--matrix -q -f json --sim 'pace=freewheel,inputs=3,outputs=3,route=" + route + "'");
        ASSERT_FALSE(run.out.empty()) << route << ": " << run.err;
        const Json json = Json::parse(run.out);
        expectMatrix(json["matrix"], routed, 3, 0.0);
        for (const int output : outputs) {
            const bool heard =
                std::any_of(routed.begin(), routed.end(),
                            [output](const RoutedPair& r) { return r.output == output; });
            const Json named = {
                {"kind", "heardNowhere"},
                {"output", {{"index", output}, {"name", "Sim Out " + std::to_string(output + 1)}}}};
            const Json& findings = json["matrix"]["findings"];
            EXPECT_EQ(std::count(findings.begin(), findings.end(), named), heard ? 0 : 1) << output;
        }
    }
}

} // namespace
