#include "cli/result_text.h"

#include "engine/sensitivity.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string_view>

namespace {

std::string format(const char* pattern, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

std::string format(const char* pattern, ...) {
    char text[256];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

double dbfsOf(std::int32_t level32) {
    return 20.0 * std::log10(std::ldexp(static_cast<double>(level32), -31));
}

std::vector<std::string> diagnoses(const CorrelationFindings& found, std::int32_t sensitivity) {
    std::vector<std::string> lines;
    if (!found.loopFound) {
        lines.push_back(found.floatingInput
                            ? "Diagnosis: floating input: loud noise and no loop (nothing plugged "
                              "in?)"
                            : "Diagnosis: no loop: nothing of the stimulus came back");
        return lines;
    }
    if (found.polarity < 0) {
        lines.emplace_back("Diagnosis: inverted polarity: the input hears the output upside down");
    }
    if (found.ghost) {
        lines.push_back(format("Diagnosis: a second path at %.2f samples, %.1f dB below the loop "
                               "(an internal mixer or loopback channel?)",
                               found.ghost->delaySamples, -found.ghost->levelDb));
    }
    if (found.clipped) {
        lines.emplace_back("Diagnosis: clipping: the input reaches full scale; lower the level");
    }
    if (const auto shortBy = levelShortOfThreshold(found, sensitivity)) {
        lines.push_back(format(
            "Diagnosis: level too low for the threshold method: %.1f dB below "
            "its %s threshold",
            *shortBy,
            std::string(kSensitivityLevels[static_cast<std::size_t>(thresholdPosition(sensitivity))]
                            .listText)
                .c_str()));
    }
    return lines;
}

} // namespace

std::optional<double> levelShortOfThreshold(const CorrelationFindings& findings,
                                            std::int32_t sensitivity) {
    if (!findings.loopFound || !std::isfinite(findings.levelDb)) {
        return std::nullopt;
    }
    // The pulse leaves at half scale; only a positive swing above the threshold counts.
    const double arriving = dbfsOf(kPulseLevel) + findings.levelDb;
    const double needed = dbfsOf(thresholdForSensitivity(sensitivity));
    if (arriving > needed) {
        return std::nullopt;
    }
    return needed - arriving;
}

std::vector<std::string> resultLines(const MeasurementResult& result, bool withReportedLatencies) {
    std::vector<std::string> lines;
    const double ms = result.latencyMs().value_or(0);
    if (result.method == MethodKind::Correlation) {
        if (result.latencySamples) {
            lines.push_back(
                format("Measurement results: %.2f samples / %.2f ms", *result.latencySamples, ms));
            lines.push_back(format("Polarity: %s, confidence %.1f",
                                   result.correlation->polarity < 0 ? "inverted" : "normal",
                                   result.correlation->confidence));
        } else {
            lines.emplace_back("Measurement results: no loop found");
        }
    } else if (result.latencySamples) {
        lines.push_back(
            format("Measurement results: %.0f samples / %.2f ms", *result.latencySamples, ms));
    }
    if (result.latencySamples && withReportedLatencies) {
        lines.push_back(format("Driver-reported latencies (samples): in: %d out: %d",
                               static_cast<int>(result.reportedInputLatency),
                               static_cast<int>(result.reportedOutputLatency)));
    }
    if (result.correlation) {
        for (std::string& line : diagnoses(*result.correlation, result.sensitivity)) {
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

std::string thresholdFailureExplained(const MeasurementResult& correlation,
                                      std::int32_t sensitivity) {
    const std::string prefix = "the threshold found nothing; a correlation measurement ";
    if (!correlation.correlation || !correlation.latencySamples) {
        return prefix + "found no loop at all either: check that an output is cabled to an input";
    }
    const CorrelationFindings& found = *correlation.correlation;
    const double samples = *correlation.latencySamples;
    if (found.polarity < 0) {
        return prefix + format("found the loop at %.2f samples with inverted polarity, which a "
                               "threshold sees only as negative peaks: use --method correlation, "
                               "or a cable that keeps polarity",
                               samples);
    }
    if (const auto shortBy = levelShortOfThreshold(found, sensitivity)) {
        return prefix + format("found the loop at %.2f samples, its level %.1f dB below the "
                               "threshold: raise the level or choose a lower --sensitivity "
                               "(or use --method correlation)",
                               samples, *shortBy);
    }
    return prefix + format("found the loop at %.2f samples: use --method correlation", samples);
}
