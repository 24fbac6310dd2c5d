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

// The measurement that could not be made, with nothing but its setup and why: the sample rate
// and buffer size, `skipped` empty fields, the message, `after` empty fields.
std::string failureRow(const RunFailure& failure, int skipped, int after) {
    return formatted("%.10g,%d,%s%s%s\n", failure.sampleRate, static_cast<int>(failure.bufferSize),
                     std::string(static_cast<std::size_t>(skipped + 1), ',').c_str(),
                     quoted(failure.message).c_str(),
                     std::string(static_cast<std::size_t>(after), ',').c_str());
}

std::string nameField(std::int32_t channel, const std::vector<std::string>& names) {
    return quoted(channelName(channel, names));
}

// The outputs played (numbers and names, each separated by spaces) and the input that heard them.
std::string channelFields(const MeasurementResult& result, const Report& report) {
    std::string numbers;
    std::string names;
    for (const std::int32_t output : result.outputsPlayed) {
        numbers += (numbers.empty() ? "" : " ") + std::to_string(output);
        names += (names.empty() ? "" : " ") + channelName(output, report.outputNames);
    }
    const std::optional<std::int32_t> input = inputHeard(result);
    return numbers + "," + quoted(names) + "," + (input ? std::to_string(*input) : "") + "," +
           (input ? nameField(*input, report.inputNames) : "");
}

std::string matrixCsv(const Report& report) {
    std::string csv = "output,output_name,input,input_name,method,sample_rate,buffer_size,path,"
                      "latency_samples,latency_ms,level_db,polarity,margin_db,verdict,error\n";
    for (const MatrixCell& cell : report.matrix) {
        const MeasurementResult& result = cell.result;
        std::optional<double> level;
        std::optional<double> polarity;
        if (result.correlation && result.correlation->loopFound) {
            level = result.correlation->levelDb;
            polarity = result.correlation->polarity;
        }
        const std::optional<double> margin =
            result.threshold ? std::optional<double>(result.threshold->marginDb) : std::nullopt;
        csv += formatted(
            "%d,%s,%d,%s,%s,%.10g,%d,%s,%s,%s,%s,%s,%s,%s,\n", static_cast<int>(cell.output),
            nameField(cell.output, report.outputNames).c_str(), static_cast<int>(cell.input),
            nameField(cell.input, report.inputNames).c_str(), methodName(result.method),
            result.sampleRate, static_cast<int>(result.bufferSize),
            returnedNothing(result) ? "no" : "yes", field(result.latencySamples).c_str(),
            field(result.latencyMs()).c_str(), field(level).c_str(), field(polarity).c_str(),
            field(margin).c_str(), verdictName(result.verdict.verdict));
    }
    if (report.failure) {
        csv += ",,,,," + failureRow(*report.failure, 7, 0);
    }
    return csv;
}

} // namespace

std::string csvReport(const Report& report) {
    if (report.kind == RunKind::Matrix) {
        return matrixCsv(report);
    }
    std::string csv = "run,driver,method,sample_rate,buffer_size,latency_samples,latency_ms,"
                      "reported_input,reported_output,unreported_samples,polarity,confidence,"
                      "verdict,reasons,recording_offset_samples,recording_offset_ms,"
                      "jack_input,jack_output,error,outputs,output_names,input,input_name\n";
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
        std::optional<double> offsetMs;
        std::optional<double> jackInput;
        std::optional<double> jackOutput;
        if (result.verdict.verified() && result.latencySamples) {
            offset = unreportedSamples(result);
            offsetMs = toMs(*offset, result.sampleRate);
            if (const std::optional<JackSystemic> systemic = jackSystemic(result);
                systemic && report.jackPorts) {
                jackInput = static_cast<double>(systemic->input);
                jackOutput = static_cast<double>(systemic->output);
            }
        }
        csv += formatted(
            "%d,%s,%s,%.10g,%d,%s,%s,%d,%d,%s,%s,%s,%s,%s,%s,%s,%s,%s,,%s\n", ++run, driver.c_str(),
            methodName(result.method), result.sampleRate, static_cast<int>(result.bufferSize),
            field(result.latencySamples).c_str(), field(result.latencyMs()).c_str(),
            static_cast<int>(result.reportedInputLatency),
            static_cast<int>(result.reportedOutputLatency),
            field(unreportedSamples(result)).c_str(), field(polarity).c_str(),
            field(confidence).c_str(), verdictName(result.verdict.verdict), quoted(reasons).c_str(),
            field(offset).c_str(), field(offsetMs).c_str(), field(jackInput).c_str(),
            field(jackOutput).c_str(), channelFields(result, report).c_str());
    }
    if (report.failure) {
        csv += formatted("%d,%s,,", ++run, driver.c_str()) + failureRow(*report.failure, 13, 4);
    }
    return csv;
}
