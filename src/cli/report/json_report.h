#pragma once
// The report as one JSON document; README.md ("Reports") describes its keys.

#include "cli/report/report.h"

#include <nlohmann/json.hpp>

#include <string>

std::string jsonReport(const Report& report);
// One measurement as the report's "measurements" list holds it, for a watch's readings.
nlohmann::ordered_json measurementJson(const MeasurementResult& result, const Report& report);
// Statistics as the report's "statistics" hold them; null when nothing was found.
nlohmann::ordered_json statisticsJson(const std::vector<MeasurementResult>& results);
