#pragma once
// The report as one JSON document; README.md ("Reports") describes its keys.

#include "cli/report/report.h"

#include <string>

std::string jsonReport(const Report& report);
