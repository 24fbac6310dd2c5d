#include "cli/report/text_report.h"

#include "cli/report/latency_states.h"
#include "cli/report/matrix_findings.h"
#include "cli/report/stats.h"
#include "cli/report/sweep_fit.h"
#include "cli/result_text.h"

namespace {

std::string summaryLine(const std::string& of, const char* unit, const Summary& s, int decimals) {
    return formatted("Statistics of %s (%s): min %.*f, median %.*f, max %.*f, mean %.*f, "
                     "standard deviation %.*f\n",
                     of.c_str(), unit, decimals, s.min, decimals, s.median, decimals, s.max,
                     decimals, s.mean, decimals, s.standardDeviation);
}

// Each result, with the driver's latencies and the channels once and again whenever they change.
std::string runsText(const Report& report) {
    std::string text;
    const MeasurementResult* lastShown = nullptr;
    std::string lastChannels;
    for (const MeasurementResult& run : report.measurements) {
        std::string channels = channelsText(run, report);
        const bool showReported =
            run.latencySamples &&
            (!lastShown || lastShown->reportedInputLatency != run.reportedInputLatency ||
             lastShown->reportedOutputLatency != run.reportedOutputLatency ||
             channels != lastChannels);
        for (const std::string& line :
             resultLines(run, {showReported, report.jackPorts, channels})) {
            text += line + "\n";
        }
        if (showReported) {
            lastShown = &run;
            lastChannels = std::move(channels);
        }
    }
    return text;
}

std::string sweepText(const std::vector<MeasurementResult>& cells) {
    // Latencies in samples; the measured one in ms as well.
    std::string text = "    rate  buffer  measured        ms  reported in  reported out  "
                       "unreported  verdict\n";
    for (const MeasurementResult& cell : cells) {
        text += formatted("%8.0f  %6d  ", cell.sampleRate, static_cast<int>(cell.bufferSize));
        text += cell.latencySamples
                    ? formatted("%8.2f  %8.2f", *cell.latencySamples, *cell.latencyMs())
                    : formatted("%18s", "none");
        text += formatted("  %11d  %12d", static_cast<int>(cell.reportedInputLatency),
                          static_cast<int>(cell.reportedOutputLatency));
        const std::optional<double> unreported = unreportedSamples(cell);
        text += unreported ? formatted("  %10.2f", *unreported) : formatted("  %10s", "");
        text += formatted("  %s", verdictName(cell.verdict.verdict));
        for (const VerdictReason& reason : cell.verdict.reasons) {
            text +=
                (&reason == &cell.verdict.reasons.front() ? ": " : "; ") + reasonText(reason, cell);
        }
        text += "\n";
    }
    for (const LatencyFit& fit : fitPerRate(cells)) {
        text += formatted("Fit at %.0f Hz from %d sizes: latency = %.2f + %.4f x buffer size "
                          "(samples), a fixed %.2f ms\n",
                          fit.sampleRate, fit.points, fit.fixedSamples, fit.perBuffer,
                          toMs(fit.fixedSamples, fit.sampleRate));
    }
    for (const MissingFit& missing : ratesWithoutFit(cells)) {
        text += formatted("No fit at %.0f Hz: it takes two buffer sizes verified, and %d %s\n",
                          missing.sampleRate, missing.verifiedSizes,
                          missing.verifiedSizes == 1 ? "was" : "were");
    }
    return text;
}

// A cell's latency, or why there is none, in a column of its own.
std::string cellText(const MatrixCell& cell) {
    const MeasurementResult& result = cell.result;
    const bool doubtful = result.latencySamples && !result.verdict.verified();
    return pairLatencyText(result) + (doubtful ? "?" : "");
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

std::string statisticsText(const std::vector<MeasurementResult>& runs) {
    const std::vector<LatencyStatistics> groups = latencyStatistics(runs);
    std::string text;
    for (const LatencyStatistics& group : groups) {
        std::string of =
            formatted("%zu verified measurement%s", group.verified, group.verified == 1 ? "" : "s");
        if (groups.size() > 1) {
            of += formatted(" at %.0f Hz, %d samples", group.sampleRate,
                            static_cast<int>(group.bufferSize));
        }
        if (group.doubtful + group.noResult > 0) {
            of += formatted(", leaving out %zu doubtful and %zu without a result", group.doubtful,
                            group.noResult);
        }
        if (!group.samples) {
            text += "No statistics of " + of + "\n";
            continue;
        }
        text += summaryLine(of, "samples", *group.samples, 2);
        text += summaryLine(of, "ms", *group.ms, 3);
    }
    return text;
}

std::string textReport(const Report& report) {
    std::string text;
    switch (report.kind) {
    case RunKind::Single:
        text = runsText(report);
        break;
    case RunKind::Repeat:
    case RunKind::Reopen:
        text = runsText(report) + statisticsText(report.measurements);
        if (report.kind == RunKind::Reopen && !report.measurements.empty()) {
            text +=
                formatted("Across %zu stream starts, ", report.measurements.size()) +
                statesText(latencyStates(report.measurements), report.measurements.front().method) +
                "\n";
        }
        break;
    case RunKind::Sweep:
        text = sweepText(report.measurements);
        break;
    case RunKind::Matrix:
        text = matrixText(report);
        break;
    }
    if (report.xruns) {
        text += formatted("JACK xruns during the measurements: %llu\n",
                          static_cast<unsigned long long>(*report.xruns));
    }
    if (report.failure) {
        const std::size_t made =
            report.kind == RunKind::Matrix ? report.matrix.size() : report.measurements.size();
        text += formatted("Ended after %zu of %zu measurements: %s\n", made, report.planned,
                          report.failure->message.c_str());
    }
    return text;
}
