#include "cli/report/json_report.h"

#include "cli/report/latency_states.h"
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
    case RunKind::Reopen:
        return "reopen";
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

} // namespace

Json measurementJson(const MeasurementResult& result) {
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
    return json;
}

namespace {

Json summaryJson(const Summary& summary) {
    return {{"min", summary.min},
            {"median", summary.median},
            {"max", summary.max},
            {"mean", summary.mean},
            {"standardDeviation", summary.standardDeviation}};
}

} // namespace

Json statisticsJson(const std::vector<MeasurementResult>& results) {
    const std::optional<LatencyStatistics> stats = latencyStatistics(results);
    return stats ? Json{{"runs", stats->runs},
                        {"found", stats->found},
                        {"samples", summaryJson(stats->samples)},
                        {"ms", summaryJson(stats->ms)}}
                 : Json(nullptr);
}

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
        measurements.push_back(measurementJson(result));
    }
    json["measurements"] = std::move(measurements);
    json["failure"] = report.failure ? Json{{"kind", report.failure->kind},
                                            {"message", report.failure->message},
                                            {"sampleRate", report.failure->sampleRate},
                                            {"bufferSize", report.failure->bufferSize},
                                            {"planned", report.planned}}
                                     : Json(nullptr);
    if (report.kind == RunKind::Sweep) {
        Json fits = Json::array();
        for (const LatencyFit& fit : fitPerRate(report.measurements)) {
            fits.push_back({{"sampleRate", fit.sampleRate},
                            {"fixed", samplesAndMs(fit.fixedSamples, fit.sampleRate)},
                            {"perBuffer", fit.perBuffer},
                            {"points", fit.points}});
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
    return json.dump(2) + "\n";
}
