#include "cli/report/csv_report.h"

#include "cli/result_text.h"

#include <optional>

namespace {

std::string field(std::optional<double> value) {
    return value ? formatted("%.10g", *value) : std::string();
}

// Quoted, with quotes doubled, so that any driver name stays one field.
std::string quoted(const std::string& text) {
    std::string field = "\"";
    for (char c : text) {
        field += c == '"' ? "\"\"" : std::string(1, c);
    }
    return field + "\"";
}

} // namespace

std::string csvReport(const Report& report) {
    std::string csv = "run,driver,method,sample_rate,buffer_size,latency_samples,latency_ms,"
                      "reported_input,reported_output,unreported_samples,polarity,confidence,"
                      "verdict,reasons,recording_offset_samples,recording_offset_ms,"
                      "jack_input,jack_output,error\n";
    const std::string driver = quoted(report.driver);
    int run = 0;
    for (const MeasurementResult& result : report.measurements) {
        // Only the correlation method knows them; the polarity only of a loop it found.
        std::optional<double> polarity;
        std::optional<double> confidence;
        if (result.correlation) {
            confidence = result.correlation->confidence;
            if (result.correlation->loopFound) {
                polarity = result.correlation->polarity;
            }
        }
        std::string reasons;
        for (const VerdictReason& reason : result.verdict.reasons) {
            reasons += (reasons.empty() ? "" : "; ") + reasonText(reason, result);
        }
        // The numbers to act on, for a verified result only.
        std::optional<double> offset;
        std::optional<double> jackInput;
        std::optional<double> jackOutput;
        if (result.verdict.verified()) {
            offset = unreportedSamples(result);
            if (const std::optional<JackSystemic> systemic = jackSystemic(result);
                systemic && report.jackPorts) {
                jackInput = static_cast<double>(systemic->input);
                jackOutput = static_cast<double>(systemic->output);
            }
        }
        const std::optional<double> offsetMs =
            offset ? std::optional(toMs(*offset, result.sampleRate)) : std::nullopt;
        csv += formatted("%d,%s,%s,%.10g,%d,%s,%s,%d,%d,%s,%s,%s,%s,%s,%s,%s,%s,%s,\n", ++run,
                         driver.c_str(), methodName(result.method), result.sampleRate,
                         static_cast<int>(result.bufferSize), field(result.latencySamples).c_str(),
                         field(result.latencyMs()).c_str(),
                         static_cast<int>(result.reportedInputLatency),
                         static_cast<int>(result.reportedOutputLatency),
                         field(unreportedSamples(result)).c_str(), field(polarity).c_str(),
                         field(confidence).c_str(), verdictName(result.verdict.verdict),
                         quoted(reasons).c_str(), field(offset).c_str(), field(offsetMs).c_str(),
                         field(jackInput).c_str(), field(jackOutput).c_str());
    }
    // The measurement that could not be made, with nothing but its setup and why.
    if (report.failure) {
        csv += formatted("%d,%s,,%.10g,%d,,,,,,,,,,,,,,%s\n", ++run, driver.c_str(),
                         report.failure->sampleRate, static_cast<int>(report.failure->bufferSize),
                         quoted(report.failure->message).c_str());
    }
    return csv;
}
