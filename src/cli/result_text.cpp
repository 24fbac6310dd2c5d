#include "cli/result_text.h"

#include "cli/report/report.h"
#include "engine/correlation_method.h"
#include "engine/sensitivity.h"
#include "engine/stimulus.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace {

double dbfsOf(std::int32_t level32) {
    return 20.0 * std::log10(std::ldexp(static_cast<double>(level32), -31));
}

std::string levelText(std::int32_t position) {
    return std::string(kSensitivityLevels[static_cast<std::size_t>(position)].listText);
}

bool hasReason(const MeasurementResult& result, VerdictReason::Kind kind) {
    const auto& reasons = result.verdict.reasons;
    return std::any_of(reasons.begin(), reasons.end(),
                       [kind](const VerdictReason& r) { return r.kind == kind; });
}

std::vector<std::string> diagnoses(const MeasurementResult& result) {
    const CorrelationFindings& found = *result.correlation;
    std::vector<std::string> lines;
    if (found.floatingInput) {
        lines.emplace_back(
            "Diagnosis: floating input: loud noise and no loop (nothing plugged in?)");
    }
    // Without a latency there is no loop to say more of.
    if (!found.loopFound || !result.latencySamples) {
        return lines;
    }
    if (found.polarity < 0) {
        lines.emplace_back("Diagnosis: inverted polarity: the input hears the output upside down");
    }
    // Two paths of similar level are the verdict's to name: neither is the loop for sure.
    if (found.ghost && !hasReason(result, VerdictReason::AmbiguousPaths)) {
        lines.push_back(formatted("Diagnosis: a second path at %.2f samples, %.1f dB below the "
                                  "loop (an internal mixer or loopback channel?)",
                                  found.ghost->delaySamples, -found.ghost->levelDb));
    }
    if (found.clipped) {
        lines.emplace_back("Diagnosis: clipping: the input reaches full scale; lower the level");
    }
    if (const auto shortBy = levelShortOfThreshold(found, result.sensitivity)) {
        lines.push_back(formatted("Diagnosis: level too low for the threshold method: %.1f dB "
                                  "below its %s threshold",
                                  *shortBy,
                                  levelText(thresholdPosition(result.sensitivity)).c_str()));
    }
    return lines;
}

// What acting on a verified latency takes: the part the driver does not report, as a DAW's
// recording offset, and for JACK the systemic latencies that make its ports declare the loop.
std::vector<std::string> numbersToActOn(const MeasurementResult& result, bool jack) {
    std::vector<std::string> lines;
    const std::optional<double> unreported = unreportedSamples(result);
    if (!unreported) {
        return lines;
    }
    const int decimals = result.method == MethodKind::Correlation ? 2 : 0;
    lines.push_back(formatted("Recording offset (unreported latency): %+.*f samples / %+.2f ms",
                              decimals, *unreported, toMs(*unreported, result.sampleRate)));
    if (!jack) {
        return lines;
    }
    if (const std::optional<JackSystemic> systemic = jackSystemic(result)) {
        lines.push_back(formatted("For jackd: -I %ld -O %ld (only their sum is measured; the "
                                  "split into input and output is a convention)",
                                  systemic->input, systemic->output));
    } else {
        lines.emplace_back("For jackd: no systemic latency to add (the ports declare more than "
                           "the loop)");
    }
    return lines;
}

} // namespace

std::string latencyWords(const MeasurementResult& result) {
    const double samples = result.latencySamples.value_or(0);
    return formatted(result.method == MethodKind::Correlation ? "%.2f samples / %.2f ms"
                                                              : "%.0f samples / %.2f ms",
                     samples, result.latencyMs().value_or(0));
}

std::string reasonText(const VerdictReason& reason, const MeasurementResult& result) {
    const std::int32_t position = thresholdPosition(result.sensitivity);
    switch (reason.kind) {
    case VerdictReason::NothingCameBack:
        if (result.method == MethodKind::Correlation) {
            // The value: the longest round trip the recording searched.
            return formatted("nothing came back within %.0f samples: no input heard the sweep",
                             reason.value) +
                   (reason.value < kLongestMaxLatencySeconds * result.sampleRate
                        ? " (--max-latency to search further)"
                        : "");
        }
        return "nothing came back: no input crossed the " + levelText(position) +
               " threshold within one second's worth of samples";
    case VerdictReason::LoopLongerThanWindow:
        // One second of recording may not even hold a round trip of two buffers.
        if (reason.value < 2.0 * result.bufferSize) {
            return formatted("nothing could come back: the recording covers round trips up to "
                             "%.0f samples, shorter than two buffers of %d samples; choose a "
                             "smaller buffer size",
                             reason.value, static_cast<int>(result.bufferSize));
        }
        return formatted("the loop is longer than %.0f samples", reason.value) +
               (reason.value < kLongestMaxLatencySeconds * result.sampleRate
                    ? " (--max-latency to search further)"
                    : "");
    case VerdictReason::NotThePulse:
        return "what crossed the threshold is not the pulse (noise, hum or DC on the input, or "
               "nothing plugged in?)";
    case VerdictReason::OnsetNearThreshold:
        return formatted(
                   "the pulse rose only %.1f dB over the threshold, so its onset is uncertain",
                   reason.value) +
               (position > 0 ? " (a lower --sensitivity gives it room)" : "");
    case VerdictReason::AmbiguousPaths:
        if (result.correlation && result.correlation->ghost) {
            return formatted("a second path at %.2f samples, %.1f dB below the loop: which of the "
                             "two is the cable cannot be told",
                             result.correlation->ghost->delaySamples, std::abs(reason.value));
        }
        return formatted("a second path %.1f dB below the loop: which of the two is the cable "
                         "cannot be told",
                         std::abs(reason.value));
    case VerdictReason::SignalUnexplained:
        return formatted("what the loop does not explain stands %.1f dB over the noise floor (a "
                         "dropout, another signal or a distorted path?)",
                         reason.value);
    case VerdictReason::Dropout:
        return formatted("periods were lost during the run (%.0f at least)", reason.value);
    case VerdictReason::InputsNeverQuiet:
        return formatted("the inputs never fell quiet before the run (the quietest: %.1f dBFS)",
                         reason.value);
    case VerdictReason::RecordingCutShort:
        return formatted("the recording watched round trips up to %.0f samples only, short of the "
                         "longest searched",
                         reason.value);
    case VerdictReason::RecordingUnusable:
        return "the recording could not be analysed (values that are not numbers, or too little "
               "memory)";
    case VerdictReason::RateUnsupported:
        return result.method == MethodKind::Correlation
                   ? formatted("the correlation method cannot measure at %.0f Hz: its sweep needs "
                               "%.0f to %.0f Hz",
                               reason.value, kLowestStimulusRate, kHighestStimulusRate)
                   : formatted("the method cannot measure at %.0f Hz", reason.value);
    case VerdictReason::SizeUnsupported:
        return formatted("the method cannot measure with buffers of %.0f samples", reason.value);
    }
    return "unknown reason";
}

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

std::vector<std::string> resultLines(const MeasurementResult& result,
                                     const ResultLineOptions& options) {
    std::vector<std::string> lines;
    switch (result.verdict.verdict) {
    case Verdict::Verified:
        lines.push_back("Measurement results: " + latencyWords(result));
        break;
    case Verdict::Doubtful:
        lines.push_back("Measurement doubtful: " + latencyWords(result));
        for (const VerdictReason& reason : result.verdict.reasons) {
            lines.push_back("doubtful: " + reasonText(reason, result));
        }
        break;
    case Verdict::NoResult:
        for (const VerdictReason& reason : result.verdict.reasons) {
            lines.push_back("No result: " + reasonText(reason, result));
        }
        break;
    }
    if (result.latencySamples && result.correlation) {
        lines.push_back(formatted("Polarity: %s, confidence %.1f",
                                  result.correlation->polarity < 0 ? "inverted" : "normal",
                                  result.correlation->confidence));
    }
    if (result.latencySamples && options.reportedLatencies) {
        lines.push_back(formatted("Driver-reported latencies (samples): in: %d out: %d",
                                  static_cast<int>(result.reportedInputLatency),
                                  static_cast<int>(result.reportedOutputLatency)));
        if (!options.channels.empty()) {
            lines.push_back("Channels: " + options.channels);
        }
    }
    if (result.verdict.verified()) {
        for (std::string& line : numbersToActOn(result, options.jackSystemic)) {
            lines.push_back(std::move(line));
        }
    }
    if (result.correlation) {
        for (std::string& line : diagnoses(result)) {
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

std::string thresholdFailureExplained(const MeasurementResult& correlation,
                                      std::int32_t sensitivity, bool othersMeasured) {
    const std::string prefix = othersMeasured
                                   ? "a threshold measurement gave no result while another found "
                                     "the pulse; a correlation measurement "
                                   : "the threshold method gave no result; a correlation "
                                     "measurement ";
    if (!correlation.correlation || !correlation.latencySamples) {
        return prefix + "found no loop at all either: check that an output is cabled to an input";
    }
    const CorrelationFindings& found = *correlation.correlation;
    const double samples = *correlation.latencySamples;
    if (found.polarity < 0) {
        return prefix + formatted("found the loop at %.2f samples with inverted polarity, which a "
                                  "threshold sees only as negative peaks: use --method "
                                  "correlation, or a cable that keeps polarity",
                                  samples);
    }
    if (const auto shortBy = levelShortOfThreshold(found, sensitivity)) {
        // The nearest lower threshold that would hear the loop, if one would.
        std::string choice = "raise the level";
        for (std::int32_t lower = thresholdPosition(sensitivity) - 1; lower >= 0; --lower) {
            if (!levelShortOfThreshold(found, lower)) {
                choice +=
                    " or choose --sensitivity " +
                    std::to_string(kSensitivityLevels[static_cast<std::size_t>(lower)].decibels);
                break;
            }
        }
        return prefix +
               formatted("found the loop at %.2f samples, its level %.1f dB below the "
                         "threshold: %s",
                         samples, *shortBy, choice.c_str()) +
               (othersMeasured ? "" : " (or use --method correlation)");
    }
    if (othersMeasured) {
        return prefix + formatted("found the loop at %.2f samples: the run that missed was "
                                  "probably disturbed (a dropout, or noise on the input)",
                                  samples);
    }
    return prefix + formatted("found the loop at %.2f samples: use --method correlation", samples);
}
