#include "cli/report/json_report.h"

#include "cli/report/matrix_findings.h"
#include "cli/report/stats.h"
#include "cli/report/sweep_fit.h"
#include "cli/result_text.h"
#include "engine/sensitivity.h"
#include "tarvelo_version.h"

#include <nlohmann/json.hpp>

#include <utility>

namespace {

using Json = nlohmann::ordered_json;

const char* kindName(RunKind kind) {
    switch (kind) {
    case RunKind::Single:
        return "single";
    case RunKind::Repeat:
        return "repeat";
    case RunKind::Sweep:
        return "sweep";
    case RunKind::Matrix:
        return "matrix";
    }
    return "unknown";
}

Json samplesAndMs(double samples, double sampleRate) {
    return {{"samples", samples}, {"ms", toMs(samples, sampleRate)}};
}

Json sensitivityDb(std::int32_t position) {
    if (position < 0 || position >= static_cast<std::int32_t>(kSensitivityLevels.size())) {
        return nullptr;
    }
    return kSensitivityLevels[static_cast<std::size_t>(position)].decibels;
}

// What the correlation method adds: polarity (with a loop), confidence and the diagnoses.
void addCorrelation(Json& json, const CorrelationFindings& found, std::int32_t sensitivity) {
    json["inputChannel"] = found.input;
    if (found.loopFound) {
        json["polarity"] = found.polarity;
    }
    json["confidence"] = found.confidence;
    constexpr std::pair<Diagnosis, const char*> kNames[] = {
        {Diagnosis::NoLoop, "noLoop"},     {Diagnosis::InvertedPolarity, "invertedPolarity"},
        {Diagnosis::Ghost, "ghost"},       {Diagnosis::FloatingInput, "floatingInput"},
        {Diagnosis::Clipping, "clipping"},
    };
    Json diagnoses = Json::array();
    for (const auto& [diagnosis, name] : kNames) {
        if (found.has(diagnosis)) {
            Json entry{{"kind", name}};
            if (diagnosis == Diagnosis::Ghost) {
                entry["delaySamples"] = found.ghost->delaySamples;
                entry["levelDb"] = found.ghost->levelDb;
            }
            diagnoses.push_back(std::move(entry));
        }
    }
    if (const std::optional<double> shortBy = levelShortOfThreshold(found, sensitivity)) {
        diagnoses.push_back({{"kind", "levelBelowThreshold"}, {"belowDb", *shortBy}});
    }
    json["diagnoses"] = std::move(diagnoses);
}

Json channelJson(std::int32_t channel, const std::vector<std::string>& names) {
    const std::string name = channelName(channel, names);
    return {{"index", channel}, {"name", name.empty() ? Json(nullptr) : Json(name)}};
}

// The outputs that played and the input that heard them, by channel number and name.
void addChannels(Json& json, const MeasurementResult& result, const Report& report) {
    Json outputs = Json::array();
    for (const std::int32_t output : result.outputsPlayed) {
        outputs.push_back(channelJson(output, report.outputNames));
    }
    json["outputs"] = std::move(outputs);
    const std::optional<std::int32_t> input = inputHeard(result);
    json["input"] = input ? channelJson(*input, report.inputNames) : Json(nullptr);
}

Json measurementJson(const MeasurementResult& result, const Report& report) {
    Json json{{"sampleRate", result.sampleRate},
              {"bufferSize", result.bufferSize},
              {"sensitivityDb", sensitivityDb(result.sensitivity)}};
    json["latency"] = result.latencySamples
                          ? samplesAndMs(*result.latencySamples, result.sampleRate)
                          : Json(nullptr);
    json["reported"] = {{"input", result.reportedInputLatency},
                        {"output", result.reportedOutputLatency}};
    const std::optional<double> unreported = unreportedSamples(result);
    json["unreported"] = unreported ? samplesAndMs(*unreported, result.sampleRate) : Json(nullptr);
    if (result.threshold) {
        json["inputChannel"] = result.threshold->input;
    }
    if (result.correlation) {
        addCorrelation(json, *result.correlation, result.sensitivity);
    }
    addChannels(json, result, report);
    return json;
}

const char* findingName(MatrixFinding::Kind kind) {
    switch (kind) {
    case MatrixFinding::LatencyApart:
        return "latencyApart";
    case MatrixFinding::SeveralOutputs:
        return "severalOutputs";
    case MatrixFinding::Swapped:
        return "swapped";
    case MatrixFinding::HeardNowhere:
        break;
    }
    return "heardNowhere";
}

Json matrixJson(const Report& report) {
    Json pairs = Json::array();
    for (const MatrixCell& cell : report.matrix) {
        const MeasurementResult& result = cell.result;
        Json pair{{"output", channelJson(cell.output, report.outputNames)},
                  {"input", channelJson(cell.input, report.inputNames)},
                  {"path", !returnedNothing(result)},
                  {"verdict", verdictWord(result.verdict.verdict)}};
        pair["latency"] = result.latencySamples
                              ? samplesAndMs(*result.latencySamples, result.sampleRate)
                              : Json(nullptr);
        const CorrelationFindings* found = result.correlation ? &*result.correlation : nullptr;
        pair["levelDb"] = found && found->loopFound ? Json(found->levelDb) : Json(nullptr);
        pair["polarity"] = found && found->loopFound ? Json(found->polarity) : Json(nullptr);
        pair["marginDb"] = result.threshold ? Json(result.threshold->marginDb) : Json(nullptr);
        pairs.push_back(std::move(pair));
    }
    Json findings = Json::array();
    for (const MatrixFinding& finding : matrixFindings(report.matrix)) {
        Json entry{{"kind", findingName(finding.kind)}};
        switch (finding.kind) {
        case MatrixFinding::LatencyApart:
            entry["output"] = channelJson(finding.output, report.outputNames);
            entry["input"] = channelJson(finding.input, report.inputNames);
            entry["apartSamples"] = finding.samples;
            entry["medianSamples"] = finding.medianSamples;
            break;
        case MatrixFinding::SeveralOutputs:
            entry["input"] = channelJson(finding.input, report.inputNames);
            entry["outputs"] = Json::array();
            for (const std::int32_t output : finding.outputs) {
                entry["outputs"].push_back(channelJson(output, report.outputNames));
            }
            break;
        case MatrixFinding::Swapped:
            entry["channels"] = {finding.output, finding.input};
            break;
        case MatrixFinding::HeardNowhere:
            entry["output"] = channelJson(finding.output, report.outputNames);
            break;
        }
        findings.push_back(std::move(entry));
    }
    return {{"pairs", std::move(pairs)}, {"findings", std::move(findings)}};
}

Json summaryJson(const Summary& summary) {
    return {{"min", summary.min},
            {"median", summary.median},
            {"max", summary.max},
            {"mean", summary.mean},
            {"standardDeviation", summary.standardDeviation}};
}

} // namespace

std::string jsonReport(const Report& report) {
    Json json{{"program", "tarvelo-cli"},
              {"version", TARVELO_VERSION},
              {"driver", report.driver},
              {"kind", kindName(report.kind)},
              {"method", report.measurements.empty()
                             ? Json(nullptr)
                             : Json(methodName(report.measurements.front().method))}};
    Json measurements = Json::array();
    for (const MeasurementResult& result : report.measurements) {
        measurements.push_back(measurementJson(result, report));
    }
    json["measurements"] = std::move(measurements);
    json["failure"] = report.failure ? Json{{"kind", report.failure->kind},
                                            {"message", report.failure->message},
                                            {"sampleRate", report.failure->sampleRate},
                                            {"bufferSize", report.failure->bufferSize},
                                            {"planned", report.planned}}
                                     : Json(nullptr);
    if (report.kind == RunKind::Matrix) {
        json["method"] = report.matrix.empty()
                             ? Json(nullptr)
                             : Json(methodName(report.matrix.front().result.method));
        json["matrix"] = matrixJson(report);
    } else if (report.kind == RunKind::Sweep) {
        Json fits = Json::array();
        for (const LatencyFit& fit : fitPerRate(report.measurements)) {
            fits.push_back({{"sampleRate", fit.sampleRate},
                            {"fixed", samplesAndMs(fit.fixedSamples, fit.sampleRate)},
                            {"perBuffer", fit.perBuffer},
                            {"points", fit.points}});
        }
        json["fits"] = std::move(fits);
    } else {
        const std::optional<LatencyStatistics> stats = latencyStatistics(report.measurements);
        json["statistics"] = stats ? Json{{"runs", stats->runs},
                                          {"found", stats->found},
                                          {"samples", summaryJson(stats->samples)},
                                          {"ms", summaryJson(stats->ms)}}
                                   : Json(nullptr);
    }
    return json.dump(2) + "\n";
}
