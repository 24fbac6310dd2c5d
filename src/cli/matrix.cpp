// --matrix: each chosen output in turn, alone, with every chosen input listened to.
//
// The threshold method ends a run at the first input that crosses, so each run names one pair:
// the run is made again without the inputs already heard until none crosses, which leaves the
// rest with no path. The correlation method plays its whole sweep whatever the inputs hear, so
// one run per output judges every input from its recording.

#include "cli/run.h"

#include <algorithm>

namespace {

// The cells of `output` in the order of the chosen inputs.
void sortByInput(std::vector<MatrixCell>::iterator first, std::vector<MatrixCell>::iterator last,
                 const std::vector<std::int32_t>& inputs) {
    const auto rank = [&inputs](const MatrixCell& cell) {
        return std::find(inputs.begin(), inputs.end(), cell.input) - inputs.begin();
    };
    std::sort(first, last,
              [&rank](const MatrixCell& a, const MatrixCell& b) { return rank(a) < rank(b); });
}

bool thresholdRow(Run& run, std::int32_t output, const std::vector<std::int32_t>& inputs) {
    std::vector<std::int32_t> unheard = inputs;
    while (!unheard.empty()) {
        run.session.selectChannels({unheard, {output}});
        std::optional<MeasurementResult> result = measureOne(run);
        if (!result) {
            return false;
        }
        if (!result->threshold) { // nothing crossed: no path to any input left
            for (const std::int32_t input : unheard) {
                run.report.matrix.push_back({output, input, *result});
            }
            return true;
        }
        const std::int32_t input = result->threshold->input;
        unheard.erase(std::find(unheard.begin(), unheard.end(), input));
        run.report.matrix.push_back({output, input, std::move(*result)});
    }
    return true;
}

bool correlationRow(Run& run, std::int32_t output, const std::vector<std::int32_t>& inputs) {
    run.session.selectChannels({inputs, {output}});
    if (!measureOne(run)) {
        return false;
    }
    std::vector<MeasurementResult> results = run.session.resultPerInput();
    for (std::size_t k = 0; k < results.size() && k < inputs.size(); ++k) {
        run.report.matrix.push_back({output, inputs[k], std::move(results[k])});
    }
    return true;
}

} // namespace

int measureMatrix(Run& run) {
    const ChannelSelection chosen = run.session.channelsChosen();
    run.report.kind = RunKind::Matrix;
    run.report.planned = chosen.outputs.size() * chosen.inputs.size();
    if (chosen.outputs.empty() || chosen.inputs.empty()) {
        run.console.error(chosen.outputs.empty()
                              ? "cannot measure: the driver has no output channel"
                              : "cannot measure: the driver has no input channel");
        return kExitNotMeasured;
    }
    const bool threshold = run.session.measurement().method().kind() == MethodKind::Threshold;
    for (const std::int32_t output : chosen.outputs) {
        const std::size_t rowStart = run.report.matrix.size();
        if (!(threshold ? thresholdRow(run, output, chosen.inputs)
                        : correlationRow(run, output, chosen.inputs))) {
            return kExitNotMeasured;
        }
        sortByInput(run.report.matrix.begin() + static_cast<std::ptrdiff_t>(rowStart),
                    run.report.matrix.end(), chosen.inputs);
    }
    // A pair that returned nothing is a finding, not a failure to measure.
    bool heard = false;
    int status = kExitMeasured;
    for (const MatrixCell& cell : run.report.matrix) {
        if (!returnedNothing(cell.result)) {
            heard = true;
            status = worseExit(status, verdictExit(cell.result.verdict.verdict));
        }
    }
    return heard ? status : kExitNotMeasured;
}
