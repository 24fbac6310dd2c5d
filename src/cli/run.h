#pragma once
// One run of tarvelo-cli on a measurement session: the driver chosen and opened, then one run
// mode (a single measurement or a repeat, a sweep), then the report. Each mode lives in a file
// of its own and shares what is here.

#include "cli/console.h"
#include "cli/options.h"
#include "cli/report/report.h"
#include "session/measure_once.h"

#include <functional>
#include <optional>
#include <string>

struct IASIO;

inline constexpr int kExitMeasured = 0;
inline constexpr int kExitNotMeasured = 1;
inline constexpr int kExitBadInput = 2;

// What a platform adds around the session for the drivers it installs.
struct DriverHooks {
    // Before the named driver is opened: 0 to go on, or the exit code, its reason printed.
    std::function<int(const std::string& driverName)> beforeOpen;
    // After a text report whose last measurement found the loop, with the driver that measured.
    std::function<void(IASIO* driver)> afterResult;
};

// What every part of a run works on.
struct Run {
    const CliOptions& options;
    Console& console;
    MeasurementSession& session;
    EventQueue& events;
    Report report;
};

// The whole program after its options: checks, drivers, session, mode, report. The exit code.
int runCli(const CliOptions& options);

// The run modes. Each measures into run.report and returns the exit code so far.
int measureRepeatedly(Run& run);
int measureSweep(Run& run);
int measureMatrix(Run& run);

// One measurement with the session's setup; none when it could not be made: the run cannot go
// on, and the failure is recorded in the report and said on standard error.
std::optional<MeasurementResult> measureOne(Run& run);
// One measurement with the session's setup, into the report. False when it could not be made:
// the run cannot go on, and the failure is recorded in the report and said on standard error.
bool measureInto(Run& run);
// When a threshold measurement found nothing: one correlation measurement, and a line on why.
// Once, after the files: it would replace the recording they show.
void explainThresholdFailure(Run& run);
