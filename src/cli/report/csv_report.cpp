#include "cli/report/csv_report.h"

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
                      "latency_samples,latency_ms,level_db,polarity,margin_db,verdict\n";
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
            "%d,%s,%d,%s,%s,%.10g,%d,%s,%s,%s,%s,%s,%s,%s\n", static_cast<int>(cell.output),
            nameField(cell.output, report.outputNames).c_str(), static_cast<int>(cell.input),
            nameField(cell.input, report.inputNames).c_str(), methodName(result.method),
            result.sampleRate, static_cast<int>(result.bufferSize),
            returnedNothing(result) ? "no" : "yes", field(result.latencySamples).c_str(),
            field(result.latencyMs()).c_str(), field(level).c_str(), field(polarity).c_str(),
            field(margin).c_str(), verdictWord(result.verdict.verdict));
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
                      "error,outputs,output_names,input,input_name\n";
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
        csv += formatted("%d,%s,%s,%.10g,%d,%s,%s,%d,%d,%s,%s,%s,,%s\n", ++run, driver.c_str(),
                         methodName(result.method), result.sampleRate,
                         static_cast<int>(result.bufferSize), field(result.latencySamples).c_str(),
                         field(result.latencyMs()).c_str(),
                         static_cast<int>(result.reportedInputLatency),
                         static_cast<int>(result.reportedOutputLatency),
                         field(unreportedSamples(result)).c_str(), field(polarity).c_str(),
                         field(confidence).c_str(), channelFields(result, report).c_str());
    }
    // The measurement that could not be made, with nothing but its setup and why.
    if (report.failure) {
        csv += formatted("%d,%s,,%.10g,%d,,,,,,,,%s,,,,\n", ++run, driver.c_str(),
                         report.failure->sampleRate, static_cast<int>(report.failure->bufferSize),
                         quoted(report.failure->message).c_str());
    }
    return csv;
}
