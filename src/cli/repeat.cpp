// One measurement, or --repeat N of them on one setup, for the statistics.

#include "cli/run.h"

int measureRepeatedly(Run& run) {
    const int runs = run.options.repeat;
    run.report.kind = runs > 1 ? RunKind::Repeat : RunKind::Single;
    run.report.planned = static_cast<std::size_t>(runs);
    for (int i = 0; i < runs; ++i) {
        if (!measureInto(run)) {
            return kExitNotMeasured;
        }
    }
    return kExitMeasured;
}
