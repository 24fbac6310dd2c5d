#pragma once
// One run of tarvelo-cli on a measurement session: the driver chosen and opened, then one run
// mode (a single measurement or a repeat, a sweep), then the report. Each mode lives in a file
// of its own and shares what is here.

#include "cli/console.h"
#include "cli/options.h"
#include "cli/report/report.h"
#include "drivers/kit/driver_entry.h"
#include "session/measure_once.h"

#include <functional>
#include <optional>
#include <string>

struct IASIO;

// Every measurement verified.
inline constexpr int kExitMeasured = 0;
// A measurement without a result, or one that could not be made, or a file not written.
inline constexpr int kExitNotMeasured = 1;
inline constexpr int kExitBadInput = 2;
// Every measurement has a latency, but at least one is doubtful.
inline constexpr int kExitDoubtful = 3;

// Of two exit codes, the one that tells of the worse outcome.
int worseExit(int a, int b);
// The exit code a measurement's verdict gives.
int verdictExit(Verdict verdict);

// What a platform adds around the session for the drivers it installs.
struct DriverHooks {
    // Before the named driver is opened: 0 to go on, or the exit code, its reason printed.
    std::function<int(const std::string& driverName)> beforeOpen;
    // After each measurement, what the driver that made it tells of it.
    std::function<kit::DriverAccount(IASIO* driver)> afterResult;
};

// What every part of a run works on.
struct Run {
    const CliOptions& options;
    Console& console;
    MeasurementSession& session;
    EventQueue& events;
    const DriverHooks& hooks;
    Report report;
};

// The whole program after its options: checks, drivers, session, mode, report. The exit code.
int runCli(const CliOptions& options);

// The run modes. Each measures into run.report and returns the exit code of what stopped it
// early (0 when nothing did); the verdicts of its measurements add theirs.
// --repeat and --reopen: measurements in a row, each on a stream started afresh.
int measureRepeatedly(Run& run);
int measureSweep(Run& run);
// --matrix: each chosen output in turn against every chosen input. Its exit code is its pairs'
// verdicts', a pair with no path aside; 1 when no pair was heard.
int measureMatrix(Run& run);
// --watch: readings on one running stream as they come, then a summary (cli/watch.h).
int watchLatency(Run& run);

// One measurement with the session's setup; none when it could not be made: the run cannot go
// on, and the failure is recorded in the report and said on standard error.
std::optional<MeasurementResult> measureOne(Run& run);
// One measurement with the session's setup, into the report. False when it could not be made:
// the run cannot go on, and the failure is recorded in the report and said on standard error.
bool measureInto(Run& run);
// What a driver asked for or did on the way (a reset, a new rate), said as a notice.
void noticeDriverEvent(Run& run, const SessionEvent& event);
// Why a measurement could not be made, into the report and said on standard error.
void recordProblem(Run& run, const MeasureProblem& problem);
// When a threshold measurement found nothing: one correlation measurement, and a line on why.
// Once, after the files: it would replace the recording they show.
void explainThresholdFailure(Run& run);
