#include "cli/report/json_report.h"

#include "cli/report/latency_states.h"
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

// Raised whenever a key changes meaning or shape; 2: verdicts, statistics per setup; 3: the
// channels played and heard, named, inputChannel only with a latency, the matrix.
constexpr int kJsonSchemaVersion = 3;

const char* kindName(RunKind kind) {
    switch (kind) {
    case RunKind::Single:
        return "single";
    case RunKind::Repeat:
        return "repeat";
    case RunKind::Sweep:
        return "sweep";
    case RunKind::Reopen:
        return "reopen";
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
void addCorrelation(Json& json, const MeasurementResult& result) {
    const CorrelationFindings& found = *result.correlation;
    // Without a latency there is no loop to say more of.
    const bool loop = found.loopFound && result.latencySamples;
    if (loop) {
        json["polarity"] = found.polarity;
    }
    json["confidence"] = found.confidence;
    // Whether a loop was found is the verdict's to say.
    constexpr std::pair<Diagnosis, const char*> kNames[] = {
        {Diagnosis::InvertedPolarity, "invertedPolarity"},
        {Diagnosis::Ghost, "ghost"},
        {Diagnosis::FloatingInput, "floatingInput"},
        {Diagnosis::Clipping, "clipping"},
    };
    Json diagnoses = Json::array();
    for (const auto& [diagnosis, name] : kNames) {
        if (found.has(diagnosis) && (loop || diagnosis == Diagnosis::FloatingInput)) {
            Json entry{{"kind", name}};
            if (diagnosis == Diagnosis::Ghost) {
                entry["delaySamples"] = found.ghost->delaySamples;
                entry["levelDb"] = found.ghost->levelDb;
            }
            diagnoses.push_back(std::move(entry));
        }
    }
    if (const std::optional<double> shortBy = levelShortOfThreshold(found, result.sensitivity);
        shortBy && loop) {
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

void addVerdict(Json& json, const MeasurementResult& result) {
    json["verdict"] = verdictName(result.verdict.verdict);
    Json reasons = Json::array();
    for (const VerdictReason& reason : result.verdict.reasons) {
        reasons.push_back({{"kind", reasonName(reason.kind)},
                           {"value", reason.value},
                           {"text", reasonText(reason, result)}});
    }
    json["reasons"] = std::move(reasons);
}

// The numbers to act on, for a verified result only: the recording offset, and for JACK the
// systemic latencies.
void addActions(Json& json, const MeasurementResult& result, bool jackPorts) {
    const std::optional<double> offset = unreportedSamples(result);
    if (!result.verdict.verified() || !offset) {
        return;
    }
    json["recordingOffset"] = samplesAndMs(*offset, result.sampleRate);
    if (jackPorts) {
        const std::optional<JackSystemic> systemic = jackSystemic(result);
        json["jackSystemic"] = systemic
                                   ? Json{{"input", systemic->input}, {"output", systemic->output}}
                                   : Json(nullptr);
    }
}

} // namespace

Json measurementJson(const MeasurementResult& result, const Report& report) {
    Json json{{"sampleRate", result.sampleRate},
              {"bufferSize", result.bufferSize},
              {"sensitivityDb", sensitivityDb(result.sensitivity)}};
    addVerdict(json, result);
    json["latency"] = result.latencySamples
                          ? samplesAndMs(*result.latencySamples, result.sampleRate)
                          : Json(nullptr);
    json["reported"] = {{"input", result.reportedInputLatency},
                        {"output", result.reportedOutputLatency}};
    const std::optional<double> unreported = unreportedSamples(result);
    json["unreported"] = unreported ? samplesAndMs(*unreported, result.sampleRate) : Json(nullptr);
    addActions(json, result, report.jackPorts);
    if (const std::optional<std::int32_t> input = inputHeard(result)) {
        json["inputChannel"] = *input;
    }
    if (result.correlation) {
        addCorrelation(json, result);
    }
    addChannels(json, result, report);
    return json;
}

namespace {

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
                  {"verdict", verdictName(result.verdict.verdict)}};
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

Json summaryJson(const std::optional<Summary>& summary) {
    if (!summary) {
        return nullptr;
    }
    return {{"min", summary->min},
            {"median", summary->median},
            {"max", summary->max},
            {"mean", summary->mean},
            {"standardDeviation", summary->standardDeviation}};
}

} // namespace

Json statisticsJson(const std::vector<MeasurementResult>& results) {
    Json groups = Json::array();
    for (const LatencyStatistics& group : latencyStatistics(results)) {
        groups.push_back({{"sampleRate", group.sampleRate},
                          {"bufferSize", group.bufferSize},
                          {"runs", group.runs},
                          {"verified", group.verified},
                          {"doubtful", group.doubtful},
                          {"noResult", group.noResult},
                          {"samples", summaryJson(group.samples)},
                          {"ms", summaryJson(group.ms)}});
    }
    return groups;
}

std::string jsonReport(const Report& report) {
    Json json{{"schemaVersion", kJsonSchemaVersion},
              {"program", "tarvelo-cli"},
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
        for (const MissingFit& missing : ratesWithoutFit(report.measurements)) {
            fits.push_back({{"sampleRate", missing.sampleRate},
                            {"fixed", nullptr},
                            {"perBuffer", nullptr},
                            {"points", missing.verifiedSizes},
                            {"why", "a fit takes two buffer sizes verified"}});
        }
        json["fits"] = std::move(fits);
    } else {
        json["statistics"] = statisticsJson(report.measurements);
    }
    if (report.kind == RunKind::Reopen) {
        Json states = Json::array();
        for (const LatencyState& state : latencyStates(report.measurements)) {
            const double rate = report.measurements.front().sampleRate;
            states.push_back(
                {{"latency", samplesAndMs(state.samples, rate)}, {"count", state.count}});
        }
        json["states"] = std::move(states);
    }
    json["xruns"] = report.xruns ? Json(*report.xruns) : Json(nullptr);
    return json.dump(2) + "\n";
}
