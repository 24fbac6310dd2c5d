#pragma once
// A measurement's result as the lines tarvelo-cli prints: the verdict with the latency, why it is
// doubtful or missing, the driver's own figures, the numbers to act on, and for the correlation
// method the polarity, the confidence and each diagnosis on its own line.

#include "engine/detection_method.h"

#include <string>
#include <vector>

// How the lines of a result are shown.
struct ResultLineOptions {
    // The driver's reported latencies; false leaves them out, for runs that repeat them.
    bool reportedLatencies = true;
    // The values for jackd's systemic -I and -O, for a driver whose latencies are JACK's ports'.
    bool jackSystemic = false;
    // The outputs played and the input that heard them, in words, shown with the driver's
    // figures; empty: not shown.
    std::string channels;
};

std::vector<std::string> resultLines(const MeasurementResult& result,
                                     const ResultLineOptions& options);

// The latency as the method measures it: whole samples for the threshold, two decimals for the
// correlation, and in ms.
std::string latencyWords(const MeasurementResult& result);

// One reason of a verdict in a user's words.
std::string reasonText(const VerdictReason& reason, const MeasurementResult& result);

// How far (dB) the loop's level stays below what the threshold at list position `sensitivity`
// needs to see the pulse; none when the level is unknown or enough.
std::optional<double> levelShortOfThreshold(const CorrelationFindings& findings,
                                            std::int32_t sensitivity);

// One line that explains, from a correlation measurement, why the threshold method found nothing
// at `sensitivity`, and what to do about it. `othersMeasured`: another threshold measurement of
// the run found the pulse, so the method itself is not the trouble.
std::string thresholdFailureExplained(const MeasurementResult& correlation,
                                      std::int32_t sensitivity, bool othersMeasured);
