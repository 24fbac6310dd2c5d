#include "cli/run.h"

#include "cli/channel_choice.h"
#include "cli/driver_choice.h"
#include "cli/installed_drivers.h"
#include "cli/report/output_file.h"
#include "cli/report_output.h"
#include "cli/setup.h"

#include <algorithm>
#include <cstdio>

namespace {

// The files the options name, checked before anything is opened or measured: empty, or why
// not.
std::string whyOutputFilesFail(const CliOptions& options) {
    for (const std::string* file : {&options.wavFile, &options.plotFile}) {
        if (!file->empty()) {
            if (std::string why = whyNotWritable(*file); !why.empty()) {
                return why;
            }
        }
    }
    if (!options.wavFile.empty() && options.wavFile == options.plotFile) {
        return "--wav and --plot name the same file '" + options.wavFile + "'";
    }
    return {};
}

int runOnDrivers(const CliOptions& options, Console& console, int sensitivity,
                 const DriverHooks& hooks) {
    DriverCatalog catalog;
    EventQueue events;
    MeasurementSession session(catalog, events);
    session.setExplainFailures(true);
    Run run{options, console, session, events, {}};

    const std::vector<std::string> drivers = driverNames(catalog);
    if (options.listDrivers) {
        for (std::size_t i = 0; i < drivers.size(); ++i) {
            std::printf("%zu: %s\n", i, drivers[i].c_str());
        }
        return kExitMeasured;
    }
    std::string why;
    const int index = findDriver(drivers, options.driver.value_or(kDefaultDriverName), why);
    if (index < 0) {
        const std::string valid = numberedNames(drivers);
        console.error(why + "; installed: " + (valid.empty() ? "none" : valid));
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

    int status = options.matrix  ? measureMatrix(run)
                 : options.sweep ? measureSweep(run)
                                 : measureRepeatedly(run);
    if (status == kExitBadInput) {
        return status;
    }
    // A text report of nothing says nothing; a JSON or CSV one still records the failure.
    if (!run.report.measurements.empty() || !run.report.matrix.empty() ||
        (run.report.failure && options.format != ReportFormat::Text)) {
        status = std::max(status, writeReport(run, hooks));
    }
    explainThresholdFailure(run);
    return status;
}

} // namespace

int runCli(const CliOptions& options) {
    Console console(options.quiet);
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
    return withInstalledDrivers(options, [&](const DriverHooks& hooks) {
        return runOnDrivers(options, console, sensitivity, hooks);
    });
}
