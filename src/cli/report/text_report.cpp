#include "cli/report/text_report.h"

#include "cli/report/latency_states.h"
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

// Each result, with the driver's latencies once and again whenever they change.
std::string runsText(const std::vector<MeasurementResult>& runs) {
    std::string text;
    const MeasurementResult* lastShown = nullptr;
    for (const MeasurementResult& run : runs) {
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

} // namespace

std::string statisticsText(const std::vector<MeasurementResult>& results) {
    const std::optional<LatencyStatistics> stats = latencyStatistics(results);
    return stats ? summaryLine(*stats, "samples", stats->samples, 2) +
                       summaryLine(*stats, "ms", stats->ms, 3)
                 : "";
}

std::string textReport(const Report& report) {
    std::string text;
    switch (report.kind) {
    case RunKind::Single:
        text = runsText(report.measurements);
        break;
    case RunKind::Repeat:
    case RunKind::Reopen:
        text = runsText(report.measurements) + statisticsText(report.measurements);
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
    }
    if (report.failure) {
        text += formatted("Ended after %zu of %zu measurements: %s\n", report.measurements.size(),
                          report.planned, report.failure->message.c_str());
    }
    return text;
}
