#include "cli/options.h"

#include "cli/driver_options.h"
#include "cli/run.h"
#include "tarvelo_version.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <map>

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
                               "float WAV file")
                    ->excludes(sweep)
                    ->excludes(matrix);
    auto* plot = app.add_option("--plot", options.plotFile,
                                "Draw the input around the onset, or a sweep's latencies, as SVG");
    list->excludes(wav)->excludes(plot)->excludes(sweep)->excludes(matrix);
    app.add_flag("-q,--quiet", options.quiet, "No status lines; only results and errors");
    addDriverOptions(app, options.driverOptions, {wav, plot, sweep});
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
