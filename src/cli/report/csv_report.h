#pragma once
// The report as CSV: a header row, then one row per measurement (a sweep's cells included), and
// when the run ended early one more, for the measurement that could not be made: its setup and
// its error, nothing else. Fields with no value (nothing came back, or a figure the method does
// not give) are empty. Each measurement has its verdict and, quoted, its reasons in words
// separated by "; "; the recording offset and the JACK systemic values only when verified.

#include "cli/report/report.h"

#include <string>

std::string csvReport(const Report& report);
