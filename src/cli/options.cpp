#include "cli/options.h"

#include "cli/driver_options.h"
#include "cli/option_text.h"
#include "cli/run.h"
#include "engine/correlation_method.h"
#include "tarvelo_version.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>

namespace {

// A file option given an empty path names no file: said rather than read as "no file".
const CLI::Validator kFilePath(
    [](const std::string& path) {
        return path.empty() ? std::string("an empty path names no file") : std::string();
    },
    "");

} // namespace

std::optional<int> parseOptions(int argc, char** argv, CliOptions& options) {
    CLI::App app{"Measures the round-trip latency of an audio interface through its ASIO driver.",
                 "tarvelo-cli"};
    app.formatter(std::make_shared<PlainHelp>());
    app.set_version_flag("--version", "tarvelo-cli " TARVELO_VERSION);
    auto* list =
        app.add_flag("-l,--list", options.listDrivers, "List the installed drivers and exit");
    app.add_option("-d,--driver", options.driver,
                   "Driver by name or by position in the list (default: " +
                       std::string(kDefaultDriverName) + ")")
        ->type_name("NAME|POSITION");
    app.add_option("-r,--rate", options.sampleRate, "Sample rate in Hz, one the driver offers")
        ->type_name("HZ");
    app.add_option("-b,--buffer-size", options.bufferSize,
                   "Buffer size in samples, one the driver offers")
        ->type_name("SAMPLES");
    app.add_option("-s,--sensitivity", options.sensitivity,
                   "Input sensitivity: -24, -18, -12 (default) or -6 dB")
        ->type_name("DB");
    auto* repeat = app.add_option("-n,--repeat,--count", options.repeat,
                                  "Measurements in a row, with statistics (default 1)")
                       ->type_name("N")
                       ->check(wholeNumberFrom(1, 1000));
    app.add_option("-m,--method", options.method,
                   "threshold (default: the dialog's pulse and threshold) or correlation (a "
                   "sweep, found between samples, with polarity, confidence and diagnoses)")
        ->type_name("METHOD")
        ->check(oneOf({"threshold", "correlation"}));
    app.add_option("--max-latency", options.maxLatencySeconds,
                   "Correlation method: the longest round trip searched, in seconds (default 1, "
                   "at most 10)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.001, kLongestMaxLatencySeconds).description(""));

    app.add_option("--output", options.outputs,
                   "An output to play on, by number or a unique part of its name (repeatable; "
                   "default: every output)")
        ->type_name("CHANNEL");
    app.add_option("--input", options.inputs,
                   "An input to listen to, by number or a unique part of its name (repeatable; "
                   "default: every input)")
        ->type_name("CHANNEL");
    auto* matrix = app.add_flag("--matrix", options.matrix,
                                "Each chosen output in turn, every chosen input listened to: the "
                                "latency, level and verdict of each pair, and what they show")
                       ->excludes(repeat);

    // Reports.
    auto* sweep = app.add_flag("--sweep", options.sweep,
                               "Measure every buffer size at every rate, with a fit per rate")
                      ->excludes(repeat)
                      ->excludes(matrix)
                      ->excludes("--rate")
                      ->excludes("--buffer-size");
    app.add_option("--sweep-rates", options.sweepRates, "The sweep's rates (default: all offered)")
        ->type_name("HZ,...")
        ->delimiter(',')
        ->needs(sweep);
    app.add_option("--sweep-sizes", options.sweepSizes,
                   "The sweep's buffer sizes (default: all offered)")
        ->type_name("SAMPLES,...")
        ->delimiter(',')
        ->needs(sweep);
    app.add_option("-f,--format", options.format, "Report format: text (default), json or csv")
        ->type_name("FORMAT")
        ->transform(oneOfMapped({{"text", std::to_string(static_cast<int>(ReportFormat::Text))},
                                 {"json", std::to_string(static_cast<int>(ReportFormat::Json))},
                                 {"csv", std::to_string(static_cast<int>(ReportFormat::Csv))}}));
    auto* wav = app.add_option("--wav", options.wavFile,
                               "Write the stimulus and every input of the (last) measurement to a "
                               "float WAV file (- for standard output)")
                    ->type_name("FILE")
                    ->check(kFilePath)
                    ->check(fileNameEnding(".wav"))
                    ->excludes(sweep)
                    ->excludes(matrix);
    auto* plot = app.add_option("--plot", options.plotFile,
                                "Draw the input around the onset, a sweep's latencies or the "
                                "channel matrix, as SVG")
                     ->type_name("FILE")
                     ->check(kFilePath)
                     ->check(fileNameEnding(".svg"));
    app.footer(
        "Exit status: 0 when every measurement was verified; 1 when one found nothing, "
        "could not be made or a file could not be written; 2 for bad input; 3 when a "
        "measurement is doubtful and none of the above applies (the report says why); 130 or "
        "143 when interrupted by Ctrl-C or a request to terminate. A matrix's pairs with no "
        "path do not count; a matrix in which no pair heard anything exits with 1.");
    auto* output =
        app.add_option("-o,--output-file", options.outputFile,
                       "Write the report to this file (whole or not at all) instead of standard "
                       "output")
            ->type_name("FILE")
            ->check(kFilePath);
    list->excludes(wav)->excludes(plot)->excludes(sweep)->excludes(matrix)->excludes(output);
    auto* reopen = app.add_option("--reopen", options.reopen,
                                  "Measurements in a row, each on a stream started afresh, with "
                                  "the latency states they fell into")
                       ->type_name("N")
                       ->check(wholeNumberFrom(1, 1000))
                       ->excludes(repeat)
                       ->excludes(sweep)
                       ->excludes(matrix);
    app.add_flag("--reopen-driver", options.reopenDriver,
                 "With --reopen: release the driver and open it again before each measurement")
        ->needs(reopen);
    auto* watch = app.add_flag("--watch", options.watch,
                               "Measure again and again on one running stream, a line per reading "
                               "as it comes, until Ctrl-C; then a summary")
                      ->excludes(repeat)
                      ->excludes(sweep)
                      ->excludes(reopen)
                      ->excludes(matrix)
                      ->excludes(wav)
                      ->excludes(plot)
                      ->excludes(output);
    app.add_option("--duration", options.duration,
                   "End a watch after this many seconds of the stream's time (the driver's buffer "
                   "switches: a freewheeling simulator runs faster than the clock)")
        ->type_name("SECONDS")
        ->check(CLI::Validator(
            [](const std::string& seconds) {
                char* end = nullptr;
                const double value = std::strtod(seconds.c_str(), &end);
                return *end == '\0' && value > 0 && value < 1e9
                           ? std::string()
                           : "'" + seconds + "' is not a number of seconds above 0";
            },
            ""))
        ->needs(watch);
    list->excludes(watch)->excludes(reopen);
    auto* quiet =
        app.add_flag("-q,--quiet", options.quiet, "No progress line; results and errors only");
    app.add_flag("-v,--verbose", options.verbose,
                 "Say what the driver did on the way (resets, rate changes)")
        ->excludes(quiet);
    addDriverOptions(app, options.driverOptions, {wav, plot, sweep, output});
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) { // --help or --version
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "tarvelo-cli: %s\n", describeParseError(app, e).c_str());
        return kExitBadInput;
    }
    return std::nullopt;
}
