#include "cli/options.h"

#include "cli/driver_options.h"
#include "cli/run.h"
#include "engine/correlation_method.h"
#include "tarvelo_version.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <map>

namespace {

// A file option given an empty path names no file: said rather than read as "no file".
const CLI::Validator kFilePath(
    [](const std::string& path) {
        return path.empty() ? std::string("an empty path names no file") : std::string();
    },
    "PATH");

} // namespace

std::optional<int> parseOptions(int argc, char** argv, CliOptions& options) {
    CLI::App app{"Measures the round-trip latency of an audio interface through its ASIO driver.",
                 "tarvelo-cli"};
    app.set_version_flag("--version", "tarvelo-cli " TARVELO_VERSION);
    auto* list =
        app.add_flag("-l,--list", options.listDrivers, "List the installed drivers and exit");
    app.add_option("-d,--driver", options.driver,
                   "Driver by name or by position in the list (default: " +
                       std::string(kDefaultDriverName) + ")");
    app.add_option("-r,--rate", options.sampleRate, "Sample rate in Hz, one the driver offers");
    app.add_option("-b,--buffer-size", options.bufferSize,
                   "Buffer size in samples, one the driver offers");
    app.add_option("-s,--sensitivity", options.sensitivity,
                   "Input sensitivity: -24, -18, -12 (default) or -6 dB");
    auto* repeat = app.add_option("-n,--repeat,--count", options.repeat,
                                  "Measurements in a row, with statistics (default 1)")
                       ->check(CLI::Range(1, 1000));
    app.add_option("-m,--method", options.method,
                   "threshold (default: the dialog's pulse and threshold) or correlation (a "
                   "sweep, found between samples, with polarity, confidence and diagnoses)")
        ->check(CLI::IsMember({"threshold", "correlation"}));
    app.add_option("--max-latency", options.maxLatencySeconds,
                   "Correlation method: the longest round trip searched, in seconds (default 1, "
                   "at most 10)")
        ->check(CLI::Range(0.001, kLongestMaxLatencySeconds));

    // Reports.
    auto* sweep = app.add_flag("--sweep", options.sweep,
                               "Measure every buffer size at every rate, with a fit per rate")
                      ->excludes(repeat)
                      ->excludes("--rate")
                      ->excludes("--buffer-size");
    app.add_option("--sweep-rates", options.sweepRates, "The sweep's rates (default: all offered)")
        ->delimiter(',')
        ->needs(sweep);
    app.add_option("--sweep-sizes", options.sweepSizes,
                   "The sweep's buffer sizes (default: all offered)")
        ->delimiter(',')
        ->needs(sweep);
    app.add_option("-f,--format", options.format, "Report format: text (default), json or csv")
        ->transform(CLI::CheckedTransformer(
            std::map<std::string, ReportFormat>{{"text", ReportFormat::Text},
                                                {"json", ReportFormat::Json},
                                                {"csv", ReportFormat::Csv}},
            CLI::ignore_case));
    auto* wav = app.add_option("--wav", options.wavFile,
                               "Write the stimulus and every input of the (last) measurement to a "
                               "float WAV file (- for standard output)")
                    ->check(kFilePath)
                    ->excludes(sweep);
    auto* plot = app.add_option("--plot", options.plotFile,
                                "Draw the input around the onset, or a sweep's latencies, as SVG")
                     ->check(kFilePath);
    app.footer(
        "Exit status: 0 when every measurement was verified; 1 when one found nothing, "
        "could not be made or a file could not be written; 2 for bad input; 3 when a "
        "measurement is doubtful and none of the above applies (the report says why); 130 or "
        "143 when interrupted by SIGINT or SIGTERM.");
    auto* output =
        app.add_option("-o,--output", options.outputFile,
                       "Write the report to this file (whole or not at all) instead of standard "
                       "output")
            ->check(kFilePath);
    list->excludes(wav)->excludes(plot)->excludes(sweep)->excludes(output);
    auto* reopen = app.add_option("--reopen", options.reopen,
                                  "Measurements in a row, each on a stream started afresh, with "
                                  "the latency states they fell into")
                       ->check(CLI::Range(1, 1000))
                       ->excludes(repeat)
                       ->excludes(sweep);
    app.add_flag("--reopen-driver", options.reopenDriver,
                 "With --reopen: release the driver and open it again before each measurement")
        ->needs(reopen);
    auto* watch = app.add_flag("--watch", options.watch,
                               "Measure again and again on one running stream, a line per reading "
                               "as it comes, until Ctrl-C; then a summary")
                      ->excludes(repeat)
                      ->excludes(sweep)
                      ->excludes(reopen)
                      ->excludes(wav)
                      ->excludes(plot)
                      ->excludes(output);
    app.add_option("--duration", options.duration,
                   "End a watch after this many seconds of the stream's time (the driver's buffer "
                   "switches: a freewheeling simulator runs faster than the clock)")
        ->check(CLI::PositiveNumber)
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
        std::fprintf(stderr, "tarvelo-cli: %s (see --help)\n", e.what());
        return kExitBadInput;
    }
    return std::nullopt;
}
