#include "cli/run.h"

#include "cli/channel_choice.h"
#include "cli/driver_choice.h"
#include "cli/installed_drivers.h"
#include "cli/interruption.h"
#include "cli/report/output_file.h"
#include "cli/report_output.h"
#include "cli/setup.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <utility>

namespace {

constexpr char kNoDriverInstalled[] =
    "no ASIO driver is installed: install your interface's driver (or the loopback simulator, "
    "an option of Tarvelo's installer)";

// The files the options name, checked before anything is opened or measured: empty, or why
// not. (--wav and --plot never name the same file: each takes only its own extension.)
std::string whyOutputFilesFail(const CliOptions& options) {
    const std::pair<const char*, const std::string*> files[] = {{"--output", &options.outputFile},
                                                                {"--wav", &options.wavFile},
                                                                {"--plot", &options.plotFile}};
    for (std::size_t i = 0; i < std::size(files); ++i) {
        const std::string& file = *files[i].second;
        if (file.empty()) {
            continue;
        }
        if (std::string why = whyNotWritable(file); !why.empty()) {
            return why;
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (sameOutput(file, *files[j].second)) {
                return std::string(files[j].first) + " and " + files[i].first +
                       " name the same file '" + file + "'";
            }
        }
    }
    return {};
}

int runOnDrivers(const CliOptions& options, Console& console, int sensitivity,
                 const DriverHooks& hooks) {
    DriverCatalog catalog;
    EventQueue events;
    MeasurementSession session(catalog, events);
    session.setExplainFailures(true);
    Run run{options, console, session, events, hooks, {}};

    const std::vector<std::string> drivers = driverNames(catalog);
    if (drivers.empty()) {
        console.error(kNoDriverInstalled);
        return options.listDrivers ? kExitMeasured : kExitNotMeasured;
    }
    if (options.listDrivers) {
        for (std::size_t i = 0; i < drivers.size(); ++i) {
            std::printf("%zu: %s\n", i, drivers[i].c_str());
        }
        return kExitMeasured;
    }
    std::string why;
    const int index = findDriver(drivers, options.driver.value_or(kDefaultDriverName), why);
    if (index < 0) {
        if (!options.driver) {
            why = std::string("no --driver given, and the default, ") + kDefaultDriverName +
                  ", is not installed; choose one with --driver";
        }
        console.error(why + "; installed: " + numberedNames(drivers));
        return kExitBadInput;
    }
    const std::string& name = drivers[static_cast<std::size_t>(index)];
    if (hooks.beforeOpen) {
        if (const int status = hooks.beforeOpen(name); status != 0) {
            return status;
        }
    }
    if (const int status = openDriver(run, index, name); status != 0) {
        return status;
    }
    if (const int status = chooseChannels(run); status != 0) {
        return status;
    }
    if (const int status = applySetup(run, sensitivity); status != 0) {
        return status;
    }

    if (options.watch) {
        return watchLatency(run);
    }
    int status = options.matrix  ? measureMatrix(run)
                 : options.sweep ? measureSweep(run)
                                 : measureRepeatedly(run);
    if (status == kExitBadInput) {
        return status;
    }
    for (const MeasurementResult& measurement : run.report.measurements) {
        status = worseExit(status, verdictExit(measurement.verdict.verdict));
    }
    // A text report of nothing says nothing; a JSON or CSV one still records the failure.
    if (!run.report.measurements.empty() || !run.report.matrix.empty() ||
        (run.report.failure && options.format != ReportFormat::Text)) {
        status = worseExit(status, writeReport(run));
    }
    explainThresholdFailure(run);
    return status;
}

} // namespace

int worseExit(int a, int b) {
    // From best to worst; anything else (a signal's code) is worse still.
    constexpr int kOrder[] = {kExitMeasured, kExitDoubtful, kExitNotMeasured, kExitBadInput};
    const auto rank = [&kOrder](int code) {
        return std::find(std::begin(kOrder), std::end(kOrder), code) - std::begin(kOrder);
    };
    return rank(a) >= rank(b) ? a : b;
}

int verdictExit(Verdict verdict) {
    switch (verdict) {
    case Verdict::Verified:
        break;
    case Verdict::Doubtful:
        return kExitDoubtful;
    case Verdict::NoResult:
        return kExitNotMeasured;
    }
    return kExitMeasured;
}

int runCli(const CliOptions& options) {
    const InterruptionGuard guard;
    Console console(options.quiet, options.verbose);
    if (options.maxLatencySeconds && options.method != "correlation") {
        console.error("--max-latency applies to --method correlation only");
        return kExitBadInput;
    }
    int sensitivity = -1;
    if (options.sensitivity && (sensitivity = sensitivityPosition(*options.sensitivity)) < 0) {
        console.error("unknown sensitivity '" + *options.sensitivity +
                      "'; valid: -24, -18, -12, -6 (dB)");
        return kExitBadInput;
    }
    if (const std::string why = whyOutputFilesFail(options); !why.empty()) {
        console.error(why);
        return kExitBadInput;
    }
    const int status = withInstalledDrivers(options, [&](const DriverHooks& hooks) {
        return runOnDrivers(options, console, sensitivity, hooks);
    });
    // As shells expect of a program a signal ended, once it has reported what it measured.
    return interruption() != 0 ? 128 + interruption() : status;
}
