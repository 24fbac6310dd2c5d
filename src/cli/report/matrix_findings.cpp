#include "cli/report/matrix_findings.h"

#include <algorithm>
#include <cmath>

namespace {

bool heard(const MatrixCell& cell) {
    return cell.result.latencySamples.has_value();
}

const MatrixCell* find(const std::vector<MatrixCell>& cells, std::int32_t output,
                       std::int32_t input) {
    const auto at = std::find_if(cells.begin(), cells.end(), [&](const MatrixCell& cell) {
        return cell.output == output && cell.input == input;
    });
    return at == cells.end() ? nullptr : &*at;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Only a few pairs apart from a majority are named: with no majority there is no rest.
void latenciesApart(const std::vector<MatrixCell>& cells, std::vector<MatrixFinding>& found) {
    std::vector<double> latencies;
    for (const MatrixCell& cell : cells) {
        if (heard(cell)) {
            latencies.push_back(*cell.result.latencySamples);
        }
    }
    if (latencies.size() < 3) {
        return;
    }
    const double middle = median(latencies);
    std::vector<MatrixFinding> apart;
    for (const MatrixCell& cell : cells) {
        if (heard(cell) && std::abs(*cell.result.latencySamples - middle) > kLatencyApartSamples) {
            apart.push_back({.kind = MatrixFinding::LatencyApart,
                             .output = cell.output,
                             .input = cell.input,
                             .samples = *cell.result.latencySamples - middle,
                             .medianSamples = middle});
        }
    }
    if (apart.size() * 2 < latencies.size()) {
        found.insert(found.end(), apart.begin(), apart.end());
    }
}

void severalOutputs(const std::vector<MatrixCell>& cells, std::vector<MatrixFinding>& found) {
    for (const std::int32_t input : matrixInputs(cells)) {
        MatrixFinding finding{.kind = MatrixFinding::SeveralOutputs, .input = input};
        for (const MatrixCell& cell : cells) {
            if (cell.input == input && heard(cell)) {
                finding.outputs.push_back(cell.output);
            }
        }
        if (finding.outputs.size() > 1) {
            found.push_back(std::move(finding));
        }
    }
}

void swapped(const std::vector<MatrixCell>& cells, std::vector<MatrixFinding>& found) {
    const auto hears = [&cells](std::int32_t output, std::int32_t input) {
        const MatrixCell* cell = find(cells, output, input);
        return cell && heard(*cell);
    };
    // Each straight pair must have been measured, and have returned nothing.
    const auto silent = [&cells](std::int32_t channel) {
        const MatrixCell* cell = find(cells, channel, channel);
        return cell && !heard(*cell);
    };
    for (const MatrixCell& cell : cells) {
        const std::int32_t a = cell.output;
        const std::int32_t b = cell.input;
        if (a < b && hears(a, b) && hears(b, a) && silent(a) && silent(b)) {
            found.push_back({.kind = MatrixFinding::Swapped, .output = a, .input = b});
        }
    }
}

void heardNowhere(const std::vector<MatrixCell>& cells, std::vector<MatrixFinding>& found) {
    for (const std::int32_t output : matrixOutputs(cells)) {
        if (std::none_of(cells.begin(), cells.end(), [output](const MatrixCell& cell) {
                return cell.output == output && heard(cell);
            })) {
            found.push_back({.kind = MatrixFinding::HeardNowhere, .output = output});
        }
    }
}

} // namespace

std::vector<MatrixFinding> matrixFindings(const std::vector<MatrixCell>& cells) {
    std::vector<MatrixFinding> found;
    latenciesApart(cells, found);
    severalOutputs(cells, found);
    swapped(cells, found);
    heardNowhere(cells, found);
    return found;
}

std::string matrixFindingText(const MatrixFinding& finding, const Report& report) {
    const auto output = [&report](std::int32_t channel) {
        return "output " + channelLabel(channel, report.outputNames);
    };
    const auto input = [&report](std::int32_t channel) {
        return "input " + channelLabel(channel, report.inputNames);
    };
    switch (finding.kind) {
    case MatrixFinding::LatencyApart:
        return formatted("%s -> %s takes %+.2f samples against the others' %.2f (a "
                         "digital port among analog ones?)",
                         output(finding.output).c_str(), input(finding.input).c_str(),
                         finding.samples, finding.medianSamples);
    case MatrixFinding::SeveralOutputs: {
        std::string outputs;
        for (const std::int32_t channel : finding.outputs) {
            outputs += (outputs.empty() ? "" : ", ") + channelLabel(channel, report.outputNames);
        }
        return input(finding.input) + " hears several outputs: " + outputs + " (a mixer route?)";
    }
    case MatrixFinding::Swapped:
        return "channels " + std::to_string(finding.output) + " and " +
               std::to_string(finding.input) + " are swapped: " + output(finding.output) +
               " is heard on " + input(finding.input) + ", " + output(finding.input) + " on " +
               input(finding.output);
    case MatrixFinding::HeardNowhere:
        return output(finding.output) + " is heard on no input";
    }
    return "";
}
