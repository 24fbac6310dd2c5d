#include "cli/options.h"

#include "cli/driver_options.h"
#include "cli/option_text.h"
#include "cli/run.h"
#include "tarvelo_version.h"

#include <CLI/CLI.hpp>

#include <cstdio>

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

    // Reports.
    auto* sweep = app.add_flag("--sweep", options.sweep,
                               "Measure every buffer size at every rate, with a fit per rate")
                      ->excludes(repeat)
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
                               "float WAV file")
                    ->type_name("FILE")
                    ->check(fileNameEnding(".wav"))
                    ->excludes(sweep);
    auto* plot = app.add_option("--plot", options.plotFile,
                                "Draw the input around the onset, or a sweep's latencies, as SVG")
                     ->type_name("FILE")
                     ->check(fileNameEnding(".svg"));
    list->excludes(wav)->excludes(plot)->excludes(sweep);
    app.add_flag("-q,--quiet", options.quiet, "No status lines; only results and errors");
    addDriverOptions(app, options.driverOptions, {wav, plot, sweep});
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
