#pragma once
// The report as lines for a reader. One measurement reads as it always has: its result, then
// the latencies the driver reports.

#include "cli/report/report.h"

#include <string>

std::string textReport(const Report& report);
// The statistics lines of repeated measurements (samples, then ms); empty when none found.
std::string statisticsText(const std::vector<MeasurementResult>& results);
