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
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <wordexp.h>

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
        int status = 0;
        waitpid(start(arguments, program), &status, 0);
        return ended(status);
    }

    // The program started in the scratch folder, its streams in files there, its arguments
    // split as a shell would but never redirected: an unquoted '>' fails the test.
    pid_t start(const std::string& arguments, const char* program = TARVELO_CLI) const {
        wordexp_t words{};
        EXPECT_EQ(wordexp(arguments.c_str(), &words, WRDE_NOCMD | WRDE_UNDEF), 0) << arguments;
        std::vector<char*> argv{const_cast<char*>(program)};
        argv.insert(argv.end(), words.we_wordv, words.we_wordv + words.we_wordc);
        argv.push_back(nullptr);
        const std::string out = (m_folder / "out").string();
        const std::string err = (m_folder / "err").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addchdir_np(&actions, m_folder.c_str());
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        wordfree(&words);
        return pid;
    }
    // What the started program ended with, within 20 s, or -1 (then it is killed).
    CliRun finish(pid_t pid) const {
        int status = 0;
        for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; ++waited) {
            if (waited == 2000) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                return {-1, slurp(m_folder / "out"), slurp(m_folder / "err")};
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return ended(status);
    }
    CliRun ended(int status) const {
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(m_folder / "out"),
                slurp(m_folder / "err")};
    }
    std::uintmax_t outputSize() const {
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(m_folder / "out", error);
        return error ? 0 : size;
    }

private:
    std::filesystem::path m_folder;
};

// The names in a folder.
std::set<std::string> namesIn(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

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

// A WAV file's format and its samples, frame by frame (interleaved).
struct Wav {
    SF_INFO info{};
    std::vector<float> samples;
    float at(std::size_t channel, std::size_t frame) const {
        return samples[frame * static_cast<std::size_t>(info.channels) + channel];
    }
};

Wav readWav(const std::filesystem::path& path) {
    Wav wav;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &wav.info);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    wav.samples.resize(file ? static_cast<std::size_t>(wav.info.frames * wav.info.channels) : 0);
    if (file) {
        EXPECT_EQ(sf_readf_float(file, wav.samples.data(), wav.info.frames), wav.info.frames);
        sf_close(file);
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
        {"--driver 'TARVELO LOOPBACK SIMULATOR' --sim gain=-9 -s '-18 dB'", 0, 1, "", ""},
        {"--sim gain=-9 -s -12", 1, 0, "No result: nothing came back: no input crossed the -12 dB",
         "tarvelo-cli: the threshold method gave no result; a correlation measurement found the "
         "loop at 544.00 samples, its level 3.0 dB below the threshold: raise the level or choose "
         "--sensitivity -18"},
        {"--sim gain=-21 -s -24", 1, 0, "No result: nothing came back",
         "below the threshold: raise the level (or use --method correlation)\n"},
        {"--quiet --sim inputs=0", 1, 0, "",
         "tarvelo-cli: cannot measure: the driver has no input channel\n"},
        {"--sim init=0", 1, 0, "",
         "tarvelo-cli: the driver \"Tarvelo Loopback Simulator\" did not start up (it gives no "
         "reason)\n"},
        {"--sim createfail=-994", 1, 0, "",
         "tarvelo-cli: the driver could not allocate buffers of 256 samples: createBuffers: "
         "failure injected by the settings\n"},
        // One second of recording cannot hold a round trip of two such buffers, nor can the
        // sweep be made at a rate below its band: each said as such, not as a missing cable.
        {"--sim pace=freewheel,rate=1000,max=1048576,preferred=1048576", 1, 0,
         "No result: nothing could come back: the recording covers round trips up to 1000 "
         "samples, shorter than two buffers of 1048576 samples; choose a smaller buffer size",
         ""},
        {"--method correlation --sim pace=freewheel,rate=1000", 1, 0,
         "No result: the correlation method cannot measure at 1000 Hz", ""},
        {"--sim reset_at=1", 1, 0, "",
         "tarvelo-cli: the driver asked for a reset during each of 3 measurements; check its "
         "settings (or another program using it) and run again\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const CliRun run = cli(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_EQ(count(run.out, "Measurement results: "), c.results) << run.out;
        EXPECT_EQ(run.out.substr(0, run.out.find('\n')).find(c.firstLine), 0u) << run.out;
        EXPECT_NE(run.err.find(c.stderrHolds), std::string::npos) << run.err;
        if (c.exitCode == 0) {
            EXPECT_EQ(run.err, "");
        }
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

TEST_F(Cli, TheWavHoldsTheStimulusAndEveryInputOnOneTimeline) {
    const CliRun run = cli("--format json -q --wav " + file("loop.wav").string() +
                           " --buffer-size 64 --sim pace=freewheel,inputs=3,delay=77");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Json measured = Json::parse(run.out)["measurements"][0];
    const auto latency = measured["latency"]["samples"].get<std::size_t>();

    const Wav wav = readWav(file("loop.wav"));
    EXPECT_EQ(wav.info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(wav.info.samplerate, measured["sampleRate"].get<int>());
    ASSERT_EQ(wav.info.channels, 1 + 3); // the stimulus, then each input
    const auto frames = static_cast<std::size_t>(wav.info.frames);
    ASSERT_GT(frames, latency);
    EXPECT_GT(wav.at(0, 0), 0.0f);
    // Inputs 1 and 2 hear the stimulus `latency` later; input 3 has no cable.
    for (std::size_t n = 0; n < frames; ++n) {
        const float heard = n >= latency ? wav.at(0, n - latency) : 0.0f;
        ASSERT_EQ(wav.at(1, n), heard) << n;
        ASSERT_EQ(wav.at(2, n), heard) << n;
        ASSERT_EQ(wav.at(3, n), 0.0f) << n;
    }
    // Written whole under another name, then renamed: nothing else is left beside it.
    EXPECT_EQ(namesIn(file("")), std::set<std::string>{"loop.wav"});
}

// The onset plot marks the latency where its figure stands on the axis (the threshold's onset,
// the correlation's peak), or says what the input heard when there is none; only the correlation
// adds a polarity and a confidence.
TEST_F(Cli, ThePlotMarksTheLatencyOnItsAxisOrSaysWhatTheInputHeard) {
    struct Case {
        const char* arguments;
        const char* mark; // on the plot, at the latency
        const char* said; // without a latency: the legend's words
    };
    const Case cases[] = {
        {"-m threshold --sim pace=freewheel", "onset", nullptr},
        {"-m correlation --sim pace=freewheel,invert=1", "peak", nullptr},
        {"--sim pace=freewheel,gain=-30", nullptr,
         "under the threshold: peak -36.0 dBFS, 24.0 dB below"},
        {"--sim pace=freewheel,cable=off", nullptr, "nothing came back: the input stayed silent"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const CliRun run =
            cli(std::string(c.arguments) + " -q -f json --plot " + file("plot.svg").string());
        EXPECT_EQ(run.exitCode, c.mark ? 0 : 1) << run.err;
        if (c.said) {
            const std::vector<std::string> legend =
                svgValues(file("plot.svg"), "//svg:text[@class='legend']");
            EXPECT_NE(std::find(legend.begin(), legend.end(), c.said), legend.end())
                << ::testing::PrintToString(legend);
            continue;
        }
        const Json measured = Json::parse(run.out)["measurements"][0];
        const bool correlation = std::string(c.mark) == "peak";
        EXPECT_EQ(measured.value("polarity", 0), correlation ? -1 : 0) << measured;
        EXPECT_EQ(measured.contains("confidence"), correlation) << measured;
        const std::string mark = std::string("//svg:*[@class='") + c.mark + "']";
        const std::vector<std::string> marks =
            svgValues(file("plot.svg"), (mark + "/@data-sample").c_str());
        const std::vector<std::string> at = svgValues(file("plot.svg"), (mark + "/@x1").c_str());
        ASSERT_EQ(marks.size(), 1u);
        ASSERT_EQ(at.size(), 1u);
        EXPECT_NEAR(std::stod(marks[0]), measured["latency"]["samples"].get<double>(), 1e-6);
        EXPECT_NEAR(onAxis(file("plot.svg"), std::stod(at[0])), std::stod(marks[0]), 0.5);
    }
}

TEST_F(Cli, TheReportGoesToStandardOutputOrItsFileAndStandardErrorHoldsOnlyWhatWentWrong) {
    // Nothing came back: the report says so, standard error only what was tried besides.
    const CliRun failed = cli("--quiet --sim pace=freewheel,cable=off");
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.out.rfind("No result: nothing came back", 0), 0u) << failed.out;
    EXPECT_EQ(count(failed.err, "\n"), 1) << failed.err;

    // Resets are noticed when verbose only; an error is said either way.
    for (const auto& [flags, notices] : {std::pair{"", 0}, {"--verbose", 3}, {"--quiet", 0}}) {
        const CliRun reset = cli(std::string(flags) + " --sim pace=freewheel,reset_at=1");
        EXPECT_EQ(count(reset.err, "asked for a reset\n"), notices) << flags;
        EXPECT_EQ(count(reset.err, "asked for a reset during each"), 1) << flags;
    }

    // -o: the report only in its file, written whole.
    const CliRun toFile =
        cli("-f json -o " + file("report.json").string() + " --sim pace=freewheel");
    EXPECT_EQ(toFile.exitCode, 0);
    EXPECT_EQ(toFile.out, "");
    EXPECT_EQ(Json::parse(slurp(file("report.json")))["measurements"][0]["latency"]["samples"],
              544);
    EXPECT_EQ(namesIn(file("")), std::set<std::string>{"report.json"});
}

// Settings under which no latency may pass as verified, one row each, with their seeds: every
// format carries the verdict and the same reasons, and the exit code tells it.
TEST_F(Cli, EveryFormatCarriesTheVerdictAndOnlyAVerifiedResultExitsZero) {
    struct Case {
        const char* arguments;
        const char* verdict;
        int exitCode;
        const char* reason; // a reason's kind
    };
    const Case cases[] = {
        {"-m correlation --sim pace=freewheel,seed=3", "verified", 0, nullptr},
        {"-m correlation --sim pace=freewheel,ghost_gain=-1,ghost_delay=40", "doubtful", 3,
         "ambiguousPaths"},
        {"-m threshold --sim pace=freewheel,gain=-5.8", "doubtful", 3, "onsetNearThreshold"},
        {"-m threshold --sim pace=freewheel,noise=-20,seed=7", "noResult", 1, "notThePulse"},
        {"-m correlation --max-latency 0.5 --sim pace=freewheel,delay=24500", "noResult", 1,
         "loopLongerThanWindow"},
        {"-m correlation --max-latency 0.05 --sim pace=freewheel,delay=24500", "noResult", 1,
         "nothingCameBack"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const CliRun json = cli(std::string(c.arguments) + " -f json");
        EXPECT_EQ(json.exitCode, c.exitCode) << json.err;
        const Json measured = Json::parse(json.out)["measurements"][0];
        EXPECT_EQ(measured["verdict"], c.verdict);
        ASSERT_EQ(measured["reasons"].empty(), c.reason == nullptr) << measured;
        // The numbers to act on come with a verified result only.
        EXPECT_EQ(measured.contains("recordingOffset"), c.reason == nullptr) << measured;

        const CliRun text = cli(c.arguments);
        const CliRun csv = cli(std::string(c.arguments) + " -f csv");
        const std::string row = lastLine(csv.out);
        EXPECT_NE(row.find(std::string(",") + c.verdict + ","), std::string::npos) << row;
        if (c.reason == nullptr) {
            EXPECT_EQ(text.out.rfind("Measurement results: ", 0), 0u) << text.out;
            EXPECT_EQ(measured["recordingOffset"], measured["unreported"]);
            EXPECT_NE(text.out.find("Recording offset (unreported latency): +8.00 samples"),
                      std::string::npos)
                << text.out;
            continue;
        }
        EXPECT_NE(std::find_if(measured["reasons"].begin(), measured["reasons"].end(),
                               [&c](const Json& r) { return r["kind"] == c.reason; }),
                  measured["reasons"].end())
            << measured;
        EXPECT_EQ(count(text.out, "Recording offset"), 0) << text.out;
        const std::string prefix = c.exitCode == 3 ? "doubtful: " : "No result: ";
        EXPECT_EQ(text.out.rfind(c.exitCode == 3 ? "Measurement doubtful: " : prefix, 0), 0u)
            << text.out;
        for (const Json& reason : measured["reasons"]) {
            const std::string words = reason["text"];
            EXPECT_NE(text.out.find(prefix + words + "\n"), std::string::npos) << text.out;
            EXPECT_NE(row.find(words), std::string::npos) << row;
        }
    }
}

// Statistics are of verified measurements, one set per setup: a doubtful run is counted beside
// them, a rate the driver changed to between runs starts a set of its own, and a sweep says why
// a rate has no fit.
TEST_F(Cli, StatisticsAndFitsAreOfVerifiedMeasurementsOfOneSetupEach) {
    const Json doubtful = Json::parse(
        cli("-n 2 -f json -m correlation --sim pace=freewheel,ghost_gain=-1,ghost_delay=40").out);
    ASSERT_EQ(doubtful["statistics"].size(), 1u);
    EXPECT_EQ(doubtful["statistics"][0]["doubtful"], 2);
    EXPECT_EQ(doubtful["statistics"][0]["verified"], 0);
    EXPECT_TRUE(doubtful["statistics"][0]["samples"].is_null());

    const std::string changed = "-n 3 --sim pace=freewheel,ratechange_at=1,ratechange_to=44100,"
                                "events_start=2";
    const Json groups = Json::parse(cli(changed + " -f json").out)["statistics"];
    ASSERT_EQ(groups.size(), 2u) << groups;
    EXPECT_EQ(groups[0]["sampleRate"], 48000.0);
    EXPECT_EQ(groups[0]["verified"], 1);
    EXPECT_EQ(groups[1]["sampleRate"], 44100.0);
    EXPECT_EQ(groups[1]["verified"], 2);
    const CliRun text = cli(changed);
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_NE(text.out.find("Statistics of 2 verified measurements at 44100 Hz, 256 samples "
                            "(samples): min 544.00"),
              std::string::npos)
        << text.out;

    const CliRun oneSize =
        cli("--sweep --sweep-rates 48000 --sweep-sizes 256 --sim pace=freewheel");
    EXPECT_NE(oneSize.out.find("No fit at 48000 Hz: it takes two buffer sizes verified, and 1 was"),
              std::string::npos)
        << oneSize.out;
}

// A measurement that cannot be made ends the run at once, in one line, and the report records
// it as the measurement that failed.
TEST_F(Cli, AMeasurementThatCannotBeMadeEndsTheRunAndIsRecordedInTheReport) {
    const CliRun csv = cli("--sweep -q --format csv --sim pace=freewheel,createfail=-994");
    EXPECT_EQ(csv.exitCode, 1);
    EXPECT_EQ(lastLine(csv.out).rfind("1,\"Tarvelo Loopback Simulator\",,22050,32,,", 0), 0u)
        << csv.out;
    EXPECT_NE(lastLine(csv.out).find("injected"), std::string::npos) << csv.out;
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
        {"--sweep-sizes 64", ""},
        {"--sweep --sweep-sizes 64,100", ""},
        {"--sweep --sweep-rates 48000,12345", ""},
        {"--sim-help --wav " + wav, ""},
        {"--output 7", "tarvelo-cli: no output at position 7; the driver's outputs: 0 \"Sim Out "
                       "1\", 1 \"Sim Out 2\"\n"},
        {"--input 'line 5'", "tarvelo-cli: unknown input 'line 5'; the driver's inputs: 0 \"Sim "
                             "In 1\", 1 \"Sim In 2\"\n"},
        {"--input 1 --input 'IN 2'", "tarvelo-cli: input 1 \"Sim In 2\" is chosen twice\n"},
        {"--output sim", ""},
        {"--sim outputs=0 --output 0", ""},
        {"--matrix --sweep", ""},
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

// A simulator channel as the reports name it: `kind` is "Out" or "In".
Json simChannel(const char* kind, int index) {
    return {{"index", index},
            {"name", "Sim " + std::string(kind) + " " + std::to_string(index + 1)}};
}

// The pulse goes to the chosen outputs only, and each result names them and the input that
// heard it by the driver's numbers and names, whatever position the input has among those chosen.
TEST_F(Cli, OnlyTheChosenChannelsAreMeasuredAndEveryResultNamesThem) {
    // Input 0 hears output 1 sooner than output 0 (with both playing, a second path that makes
    // the threshold's result doubtful); every other input its own output.
    const std::string sim = " --sim 'pace=freewheel,inputs=4,outputs=4,route=0>1@10:0>0@50:1>1:"
                            "2>2:3>3'";
    struct Case {
        const char* choice;
        double latency;
        std::vector<int> outputs;
        int input; // -1: none heard
        int exitCode;
    };
    const Case cases[] = {
        {"", 2 * 256 + 10, {0, 1, 2, 3}, 0, 3},
        {"--output 0 --input 0", 2 * 256 + 50, {0}, 0, 0},
        {"--input 0 --output 'OUT 2' --output 0", 2 * 256 + 10, {1, 0}, 0, 3},
        {"--input 3 --input 2 --output 3", 2 * 256 + 32, {3}, 3, 0},
        {"--output 2 --input 3", 0, {2}, -1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.choice);
        const CliRun run = cli(c.choice + std::string(" -q -f json") + sim);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        const Json result = Json::parse(run.out)["measurements"][0];
        Json outputs = Json::array();
        for (const int output : c.outputs) {
            outputs.push_back(simChannel("Out", output));
        }
        EXPECT_EQ(result["outputs"], outputs);
        EXPECT_EQ(result["input"], c.input < 0 ? Json() : simChannel("In", c.input));
        const Json& latency = result["latency"];
        EXPECT_EQ(latency.is_null() ? latency : latency["samples"],
                  c.input < 0 ? Json() : Json(c.latency));
        EXPECT_EQ(result.value("inputChannel", Json()), c.input < 0 ? Json() : Json(c.input));
    }
    const CliRun text = cli("--output 1 --input 'in 1'" + sim);
    EXPECT_NE(text.out.find("\nChannels: output 1 \"Sim Out 2\" -> input 0 \"Sim In 1\"\n"),
              std::string::npos)
        << text.out;
    const CliRun csv = cli("--output 1 --input 0 -f csv" + sim);
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
    EXPECT_EQ(count(text.out, "\nFinding: "), 4) << text.out;
    EXPECT_NE(text.out.find("\nFinding: channels 1 and 2 are swapped"), std::string::npos);
    const std::vector<std::string> verdicts =
        svgValues(file("matrix.svg"), "//svg:rect[@class='pair']/@data-verdict");
    EXPECT_EQ(verdicts.size(), 16u);
    EXPECT_EQ(std::count(verdicts.begin(), verdicts.end(), "verified"), 5);
    EXPECT_EQ(svgValues(file("matrix.svg"), "//svg:*[@class='finding']/@class").size(), 4u);
    const CliRun csv = cli("-f csv" + setup);
    EXPECT_EQ(count(csv.out, "\n"), 1 + 16) << csv.out;
    // A matrix in which nothing came back measured nothing.
    EXPECT_EQ(cli("--matrix -q --sim pace=freewheel,cable=off").exitCode, 1);
    EXPECT_NE(csv.out.find("\n3,\"Sim Out 4\",3,\"Sim In 4\",threshold,48000,256,yes,520,"),
              std::string::npos)
        << csv.out;
}

// Random routings, each input hearing at most one output (or none, said with `>-`) after any
// delay: the threshold's matrix finds each exactly, and an output heard nowhere is named.
TEST_F(Cli, TheMatrixRecoversSeededRandomRoutings) {
    for (const unsigned seed : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(seed);
        std::srand(seed);
        std::vector<RoutedPair> routed;
        std::string unheard;
        for (int input = 0; input < 3; ++input) {
            if (const int output = std::rand() % 3; std::rand() % 4 != 0) {
                routed.push_back({input, output, std::rand() % 300});
            } else {
                unheard += ":" + std::to_string(input) + ">-";
            }
        }
        const std::string route = (routeOf(routed) + unheard).substr(routed.empty() ? 1 : 0);
        const CliRun run = cli(
            "--matrix -q -f json --sim 'pace=freewheel,inputs=3,outputs=3,route=" + route + "'");
        EXPECT_EQ(run.exitCode, routed.empty() ? 1 : 0) << route;
        const Json json = Json::parse(run.out);
        expectMatrix(json["matrix"], routed, 3, 0.0);
        const Json& findings = json["matrix"]["findings"];
        for (int output = 0; output < 3; ++output) {
            const bool heard =
                std::any_of(routed.begin(), routed.end(),
                            [output](const RoutedPair& r) { return r.output == output; });
            const Json named = {{"kind", "heardNowhere"}, {"output", simChannel("Out", output)}};
            EXPECT_EQ(std::count(findings.begin(), findings.end(), named), heard ? 0 : 1) << output;
        }
    }
}

// A signal in the middle of a repeat or a sweep stops it: what was measured is reported in
// each format, marked interrupted, and the exit code is a shell's 128 + the signal.
TEST_F(Cli, ASignalStopsTheRunAndReportsWhatWasMeasuredMarkedInterrupted) {
    struct Case {
        int signal;
        const char* arguments;
    };
    const Case cases[] = {
        {SIGINT, "--repeat 1000 --format json"},
        {SIGTERM, "--sweep --format json"},
        {SIGTERM, "--repeat 1000 --format csv"},
        {SIGINT, "--repeat 1000"},
    };
    std::mt19937 random(17);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        // Real time, each measurement a loop of 0.04-0.4 s: a signal 1-2 s in finds some made
        // and many to come.
        const pid_t pid = start(std::string(c.arguments) + " -q --sim delay=8000");
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution(1000, 2000)(random)));
        kill(pid, c.signal);
        const CliRun run = finish(pid);
        EXPECT_EQ(run.exitCode, 128 + c.signal) << run.err;
        const std::string why =
            c.signal == SIGINT ? "interrupted by SIGINT" : "interrupted by SIGTERM";
        EXPECT_EQ(run.err, "tarvelo-cli: " + why + "\n");
        std::size_t measured = 0;
        if (std::string(c.arguments).find("json") != std::string::npos) {
            const Json report = Json::parse(run.out);
            measured = report["measurements"].size();
            EXPECT_EQ(report["failure"]["kind"], "interrupted");
            EXPECT_EQ(report["failure"]["message"], why);
        } else if (std::string(c.arguments).find("csv") != std::string::npos) {
            measured = static_cast<std::size_t>(count(run.out, "\n") - 2);
            EXPECT_NE(lastLine(run.out).find(why), std::string::npos) << run.out;
        } else {
            measured = static_cast<std::size_t>(count(run.out, "Measurement results: "));
            EXPECT_EQ(lastLine(run.out), "Ended after " + std::to_string(measured) +
                                             " of 1000 measurements: " + why + "\n");
        }
        EXPECT_GT(measured, 0u) << run.out;
    }
}

// A signal while the files are written leaves each whole, and nothing beside them.
TEST_F(Cli, ASignalDuringTheFinalWriteLeavesWholeFilesAndNoTemporaryOne) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        std::filesystem::remove_all(file(""));
        std::filesystem::create_directories(file(""));
        // Many inputs make a large recording, whose writing takes long enough to be caught.
        const pid_t pid = start("-q --method correlation --sim pace=freewheel,inputs=16 --wav " +
                                file("loop.wav").string());
        // The report comes first; then the files, each under a temporary name.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        bool caught = false;
        while (!caught && std::chrono::steady_clock::now() < giveUp) {
            caught = outputSize() > 0 && std::filesystem::directory_iterator(file("")) !=
                                             std::filesystem::directory_iterator();
        }
        ASSERT_TRUE(caught);
        kill(pid, signal);
        const CliRun run = finish(pid);
        EXPECT_EQ(run.exitCode, 128 + signal) << run.err;
        EXPECT_EQ(namesIn(file("")), std::set<std::string>{"loop.wav"});
        EXPECT_EQ(readWav(file("loop.wav")).info.channels, 17);
    }
}

// Outputs replace regular files only, through links to them, and are told apart by identity.
TEST_F(Cli, FilesAreWrittenThroughLinksAndNothingButARegularFileIsReplaced) {
    namespace fs = std::filesystem;
    fs::create_directories(file("real"));
    std::ofstream(file("real/old.svg")) << "old";
    fs::create_symlink("real/old.svg", file("link.svg"));
    fs::create_symlink("real/new.svg", file("dangling.svg"));
    ASSERT_EQ(mkfifo(file("fifo").c_str(), 0600), 0);
    fs::create_symlink("fifo", file("fifo-link"));
    const std::string measure = "-q --sim pace=freewheel ";
    struct Case {
        std::string arguments;
        int exitCode;
    };
    const Case cases[] = {
        {"--plot " + file("link.svg").string(), 0},
        {"--plot " + file("dangling.svg").string(), 0},
        {"--plot " + file("fifo").string(), 2},
        {"--wav " + file("fifo-link").string(), 2},
        {"--plot /proc/self/fd/1", 2}, // standard output is the scratch folder's file
        {"--wav ''", 2},
        {"--wav " + file("same.x").string() + " --plot " +
             (file("real") / ".." / "same.x").string(),
         2},
        {"--wav " + file("real/old.svg").string() + " --plot " + file("link.svg").string(), 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const CliRun run = cli(measure + c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_EQ(count(run.err, "\n"), c.exitCode == 0 ? 0 : 1) << run.err;
        EXPECT_EQ(namesIn(file("")),
                  (std::set<std::string>{"real", "link.svg", "dangling.svg", "fifo", "fifo-link"}));
    }
    EXPECT_TRUE(fs::is_symlink(file("link.svg")) && fs::is_symlink(file("dangling.svg")));
    EXPECT_EQ(namesIn(file("real")), (std::set<std::string>{"old.svg", "new.svg"}));
    for (const char* target : {"real/old.svg", "real/new.svg"}) {
        EXPECT_EQ(svgValues(file(target), "//svg:*[@class='onset']/@data-sample").size(), 1u)
            << target;
    }
    EXPECT_TRUE(fs::is_fifo(file("fifo")));

    // "-" is standard output: the report, then the drawing.
    const CliRun toOutput = cli(measure + "--plot -");
    EXPECT_EQ(toOutput.exitCode, 0) << toOutput.err;
    EXPECT_NE(toOutput.out.find("Measurement results: "), std::string::npos);
    EXPECT_NE(toOutput.out.find("<svg"), std::string::npos);
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

// A watch's output: one JSON object per reading, then its summary.
struct Watched {
    std::vector<Json> readings;
    Json summary;
};

Watched watched(const std::string& out) {
    Watched result;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        Json json = Json::parse(line);
        if (json.contains("summary")) {
            result.summary = json["summary"];
        } else {
            result.readings.push_back(std::move(json));
        }
    }
    return result;
}

// Freewheeling, a minute of stream time takes a few seconds.
TEST_F(Cli, AWatchFitsTheDriftBetweenTwoClocksWithinHalfAPartPerMillion) {
    struct Case {
        const char* method;
        double ppm;
    };
    // A freewheeling simulator runs on while the host looks whether a correlation run may end
    // early, so its readings would lie as far apart in stream time as the machine is slow; a
    // short window keeps them close, whatever the load.
    for (const Case& c : {Case{"threshold", 5}, Case{"correlation --max-latency 0.05", -5}}) {
        SCOPED_TRACE(c.method);
        const CliRun run =
            cli(std::string("--watch --duration 60 -q --format json --method ") + c.method +
                " --sim pace=freewheel,delay=100,drift_ppm=" + std::to_string(c.ppm));
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const Watched watch = watched(run.out);
        ASSERT_FALSE(watch.summary.is_null()) << run.out;
        EXPECT_EQ(watch.summary["readings"], watch.readings.size());
        EXPECT_GE(watch.summary["streamSeconds"].get<double>(), 60);
        EXPECT_NEAR(watch.summary["drift"]["ppm"].get<double>(), c.ppm, 0.5);
        // Flagged once, as it became clear, and never taken for a change of latency.
        ASSERT_EQ(watch.summary["changes"].size(), 1u) << watch.summary.dump();
        const std::string flag = watch.summary["changes"][0]["text"];
        EXPECT_EQ(flag.rfind(c.ppm > 0 ? "drifting: +" : "drifting: -", 0), 0u) << flag;
        double before = 0;
        for (const Json& reading : watch.readings) {
            EXPECT_GT(reading["streamSeconds"].get<double>(), before);
            before = reading["streamSeconds"];
        }
    }
}

std::string stateText(const Json& state) {
    return std::to_string(state["latency"]["samples"].get<int>()) + " x " +
           std::to_string(state["count"].get<int>());
}

TEST_F(Cli, ReopeningFindsEveryStateAStreamFallsIntoAndCountsThem) {
    for (const char* reopen : {"--reopen 20", "--reopen 20 --reopen-driver"}) {
        SCOPED_TRACE(reopen);
        const std::string setup =
            std::string(reopen) + " -q --sim pace=freewheel,open_states=0@0.7/256@0.3";
        const CliRun json = cli(setup + " --format json");
        ASSERT_EQ(json.exitCode, 0) << json.err;
        const Json report = Json::parse(json.out);
        std::map<double, int> counted;
        for (const Json& measurement : report["measurements"]) {
            ++counted[measurement["latency"]["samples"].get<double>()];
        }
        ASSERT_EQ(report["measurements"].size(), 20u);
        ASSERT_EQ(report["states"].size(), 2u) << report["states"].dump();
        std::set<double> states;
        for (const Json& state : report["states"]) {
            const double samples = state["latency"]["samples"];
            states.insert(samples);
            EXPECT_EQ(state["count"], counted[samples]) << samples;
        }
        EXPECT_EQ(states, (std::set<double>{544, 800}));
        EXPECT_GT(report["states"][0]["count"], report["states"][1]["count"]);
        // The text says the same.
        const std::string line = lastLine(cli(setup).out);
        EXPECT_EQ(line, "Across 20 stream starts, 2 states: " + stateText(report["states"][0]) +
                            ", " + stateText(report["states"][1]) + "\n");
    }
}
