#include "cli/report/text_report.h"

#include "cli/report/matrix_findings.h"
#include "cli/report/stats.h"
#include "cli/report/sweep_fit.h"
#include "cli/result_text.h"

namespace {

std::string summaryLine(const LatencyStatistics& stats, const char* unit, const Summary& s,
                        int decimals) {
    const std::string of = stats.found == stats.runs
                               ? formatted("%zu", stats.runs)
                               : formatted("%zu of %zu", stats.found, stats.runs);
    return formatted("Statistics of %s measurements (%s): min %.*f, median %.*f, max %.*f, "
                     "mean %.*f, standard deviation %.*f\n",
                     of.c_str(), unit, decimals, s.min, decimals, s.median, decimals, s.max,
                     decimals, s.mean, decimals, s.standardDeviation);
}

// Each result, with the driver's latencies and the channels once and again whenever they change.
std::string runsText(const Report& report) {
    std::string text;
    const MeasurementResult* lastShown = nullptr;
    std::string lastChannels;
    for (const MeasurementResult& run : report.measurements) {
        const bool showReported =
            run.latencySamples &&
            (!lastShown || lastShown->reportedInputLatency != run.reportedInputLatency ||
             lastShown->reportedOutputLatency != run.reportedOutputLatency);
        for (const std::string& line : resultLines(run, showReported)) {
            text += line + "\n";
        }
        if (showReported) {
            lastShown = &run;
        }
        // A run that found nothing says nothing on standard output.
        if (std::string channels = channelsText(run, report);
            run.latencySamples && channels != lastChannels) {
            text += "Channels: " + channels + "\n";
            lastChannels = std::move(channels);
        }
    }
    return text;
}

std::string sweepText(const std::vector<MeasurementResult>& cells) {
    // Latencies in samples; the measured one in ms as well.
    std::string text =
        "    rate  buffer  measured        ms  reported in  reported out  unreported\n";
    for (const MeasurementResult& cell : cells) {
        text += formatted("%8.0f  %6d  ", cell.sampleRate, static_cast<int>(cell.bufferSize));
        text += cell.latencySamples
                    ? formatted("%8.6g  %8.2f", *cell.latencySamples, *cell.latencyMs())
                    : formatted("%18s", "nothing came back");
        text += formatted("  %11d  %12d", static_cast<int>(cell.reportedInputLatency),
                          static_cast<int>(cell.reportedOutputLatency));
        if (const std::optional<double> unreported = unreportedSamples(cell)) {
            text += formatted("  %10.6g", *unreported);
        }
        text += "\n";
    }
    for (const LatencyFit& fit : fitPerRate(cells)) {
        text += formatted("Fit at %.0f Hz from %d sizes: latency = %.2f + %.4f x buffer size "
                          "(samples), a fixed %.2f ms\n",
                          fit.sampleRate, fit.points, fit.fixedSamples, fit.perBuffer,
                          toMs(fit.fixedSamples, fit.sampleRate));
    }
    return text;
}

// A cell's latency, or why there is none, in a column of its own.
std::string cellText(const MatrixCell& cell) {
    const MeasurementResult& result = cell.result;
    if (!result.latencySamples) {
        return returnedNothing(result) ? "no path" : "no result";
    }
    return formatted(result.method == MethodKind::Correlation ? "%.2f%s" : "%.0f%s",
                     *result.latencySamples, result.verdict.verified() ? "" : "?");
}

// A pair's level: the correlation's gain, or how far the pulse rose over the threshold.
std::string levelText(const MeasurementResult& result) {
    if (result.correlation && result.correlation->loopFound) {
        return formatted("level %.1f dB, polarity %s", result.correlation->levelDb,
                         result.correlation->polarity < 0 ? "inverted" : "normal");
    }
    if (result.threshold) {
        return formatted("%.1f dB over the threshold", result.threshold->marginDb);
    }
    return "";
}

std::string matrixText(const Report& report) {
    const std::vector<MatrixCell>& cells = report.matrix;
    const std::vector<std::int32_t> inputs = matrixInputs(cells);
    std::string text =
        formatted("Channel matrix (%s): latency in samples, outputs down, inputs "
                  "across; ? doubtful\n%-10s",
                  cells.empty() ? "" : methodName(cells.front().result.method), "out \\ in");
    for (const std::int32_t input : inputs) {
        text += formatted("%10d", static_cast<int>(input));
    }
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i == 0 || cells[i - 1].output != cells[i].output) {
            text += formatted("\n%-10d", static_cast<int>(cells[i].output));
        }
        text += formatted("%10s", cellText(cells[i]).c_str());
    }
    text += "\n";
    for (const MatrixCell& cell : cells) {
        if (cell.result.latencySamples) {
            text += "output " + channelLabel(cell.output, report.outputNames) + " -> input " +
                    channelLabel(cell.input, report.inputNames) + ": " + cellText(cell) +
                    formatted(" samples / %.2f ms, ", cell.result.latencyMs().value_or(0)) +
                    levelText(cell.result) + ", " + verdictWord(cell.result.verdict.verdict) + "\n";
        }
    }
    for (const MatrixFinding& finding : matrixFindings(cells)) {
        text += "Finding: " + matrixFindingText(finding, report) + "\n";
    }
    return text;
}

} // namespace

std::string textReport(const Report& report) {
    std::string text;
    switch (report.kind) {
    case RunKind::Single:
        text = runsText(report);
        break;
    case RunKind::Repeat:
        text = runsText(report);
        if (const std::optional<LatencyStatistics> stats = latencyStatistics(report.measurements)) {
            text += summaryLine(*stats, "samples", stats->samples, 2);
            text += summaryLine(*stats, "ms", stats->ms, 3);
        }
        break;
    case RunKind::Sweep:
        text = sweepText(report.measurements);
        break;
    case RunKind::Matrix:
        text = matrixText(report);
        break;
    }
    if (report.failure) {
        text += formatted("Ended after %zu of %zu measurements: %s\n", report.measurements.size(),
                          report.planned, report.failure->message.c_str());
    }
    return text;
}
