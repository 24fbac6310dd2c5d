// One measurement, --repeat N of them on one setup for the statistics, or --reopen N for the
// states a driver falls into when its stream (or, with --reopen-driver, the driver itself) is
// opened again. Every measurement starts its stream afresh: only a reopen tells which states
// it found.

#include "cli/run.h"

int measureRepeatedly(Run& run) {
    const CliOptions& options = run.options;
    const int runs = options.reopen.value_or(options.repeat);
    run.report.kind = options.reopen ? RunKind::Reopen
                      : runs > 1     ? RunKind::Repeat
                                     : RunKind::Single;
    run.report.planned = static_cast<std::size_t>(runs);
    for (int i = 0; i < runs; ++i) {
        if (i > 0 && options.reopenDriver && run.session.reset() != OpenResult::Opened) {
            recordProblem(run, {.kind = MeasureProblem::DriverFailed,
                                .failure = DriverFailure::CannotReopen,
                                .driverMessage = run.session.driverMessage()});
            return kExitNotMeasured;
        }
        if (!measureInto(run)) {
            return kExitNotMeasured;
        }
    }
    return kExitMeasured;
}
