// One measurement, or --repeat N of them on one setup, for the statistics.

#include "cli/run.h"

int measureRepeatedly(Run& run) {
    const int runs = run.options.repeat;
    run.report.kind = runs > 1 ? RunKind::Repeat : RunKind::Single;
    run.report.planned = static_cast<std::size_t>(runs);
    bool allFound = true;
    for (int i = 0; i < runs; ++i) {
        if (!measureInto(run)) {
            return kExitNotMeasured;
        }
        allFound = run.report.measurements.back().latencySamples.has_value() && allFound;
    }
    return allFound ? kExitMeasured : kExitNotMeasured;
}
