#pragma once
// Whether what crossed the threshold is the pulse the outputs played, judged off the driver's
// thread on the recorded input around the crossing (the onset). The pulse leaves every output one
// buffer long at a steady level. A loop may scale it, smear its edges (converter filters) and let
// it sag toward zero (inputs coupled through capacitors), but it still comes back as one step up
// out of quiet and, one buffer later, one step down. Noise, hum, DC, a floating input, the trailing
// edge of an inverted pulse, a click or a signal of another length does not.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// An onset whose pulse stands less than this far above the threshold moves with the noise: the
// crossing then lands wherever the noise lifts a sample over it.
inline constexpr double kOnsetMarginDb = 0.5;

struct PulseCheck {
    bool isThePulse = false;
    double marginDb = 0; // the pulse's level over the threshold, in dB
    // Set when, after the pulse fell, the input crossed the threshold again: a second path from
    // the outputs (an internal mixer, a loopback channel) beside the loop, so that nothing tells
    // which of the two is the cable. The level between them, in dB.
    std::optional<double> secondPathDb;
};

// How many samples from the onset on the check reads, for pulses `frames` long: the pulse, and
// after it as long again, at least kQuietAfterPulse, for a second path.
inline constexpr std::size_t kQuietAfterPulse = 256;
std::size_t pulseCheckSpan(std::int32_t frames);

// `input`: one input's recording, normalised, from the measurement's first armed switch on.
// `onset`: its first sample above `threshold` (normalised). `frames`: the pulse's length. What the
// recording does not hold cannot be vouched for: the check then fails.
PulseCheck checkPulse(std::span<const float> input, std::size_t onset, std::int32_t frames,
                      double threshold);
