#pragma once
// A measurement's result as the lines tarvelo-cli prints: the latency, the driver's own figures,
// and for the correlation method the polarity, the confidence and each diagnosis on its own line.

#include "engine/detection_method.h"

#include <string>
#include <vector>

// `withReportedLatencies` false leaves the driver's figures out, for runs that repeat them.
std::vector<std::string> resultLines(const MeasurementResult& result, bool withReportedLatencies);

// How far (dB) the loop's level stays below what the threshold at list position `sensitivity`
// needs to see the pulse; none when the level is unknown or enough.
std::optional<double> levelShortOfThreshold(const CorrelationFindings& findings,
                                            std::int32_t sensitivity);

// One line that explains, from a correlation measurement, why the threshold method found nothing
// at `sensitivity`, and what to do about it.
std::string thresholdFailureExplained(const MeasurementResult& correlation,
                                      std::int32_t sensitivity);
