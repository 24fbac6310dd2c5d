#include "cli/report/text_report.h"

#include "cli/report/latency_states.h"
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

// Each result, with the driver's latencies and the input once and again whenever they change.
std::string runsText(const Report& report) {
    std::string text;
    const MeasurementResult* lastShown = nullptr;
    for (const MeasurementResult& run : report.measurements) {
        const bool showReported =
            run.latencySamples &&
            (!lastShown || lastShown->reportedInputLatency != run.reportedInputLatency ||
             lastShown->reportedOutputLatency != run.reportedOutputLatency ||
             inputChannel(*lastShown) != inputChannel(run));
        for (const std::string& line : resultLines(run, {showReported, report.jackPorts})) {
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
    }
    if (report.xruns) {
        text += formatted("JACK xruns during the measurements: %llu\n",
                          static_cast<unsigned long long>(*report.xruns));
    }
    if (report.failure) {
        text += formatted("Ended after %zu of %zu measurements: %s\n", report.measurements.size(),
                          report.planned, report.failure->message.c_str());
    }
    return text;
}
