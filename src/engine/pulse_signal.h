#pragma once
// The test signal: a pulse at half of full scale, written over one whole buffer half, and its
// detection as the first sample strictly above a threshold. Levels are given for 32-bit
// integers and scaled to each format's real width, so Int16LSB and Int32LSB get exactly the
// classic values (0x4000 / 0x40000000 and the threshold shifted right by 16 bits).

#include "asio/sample_types.h"

#include <cstdint>

inline constexpr std::int32_t kPulseLevel = 0x40000000;

// The 32-bit threshold of a position in the input-sensitivity list; any position outside the
// list's four gets the "-12 dB" threshold.
constexpr std::int32_t thresholdForSensitivity(std::int32_t position) {
    switch (position) {
    case 0:
        return 0x08000000;
    case 1:
        return 0x10000000;
    case 3:
        return 0x40000000;
    default:
        return 0x20000000;
    }
}

// Writes the pulse to every sample of one buffer half. The layout must be supported.
void writePulse(void* half, std::int32_t frames, SampleLayout layout);

// Position of the first sample strictly above the 32-bit `threshold32`, scaled to the layout;
// -1 when there is none.
std::int32_t findFirstAbove(const void* half, std::int32_t frames, SampleLayout layout,
                            std::int32_t threshold32);
