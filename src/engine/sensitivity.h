#pragma once
// The input-sensitivity levels: the list the user picks from, the threshold each stands for, and
// the words the command line accepts. Thresholds are 32-bit levels, scaled to each sample format
// by the detection; the pulse itself is at half scale, the level of "-6 dB".

#include <array>
#include <cstdint>
#include <string_view>

struct SensitivityLevel {
    std::string_view listText; // as the list shows it, e.g. "-24 dB"
    std::int32_t decibels;     // the number alone, e.g. -24
    std::int32_t threshold32;
};

inline constexpr std::array<SensitivityLevel, 4> kSensitivityLevels{{
    {"-24 dB", -24, 0x08000000},
    {"-18 dB", -18, 0x10000000},
    {"-12 dB", -12, 0x20000000},
    {"-6 dB", -6, 0x40000000},
}};

// The list's initial choice, and the level any position outside the list stands for.
inline constexpr std::int32_t kDefaultSensitivity = 2;

// The list position whose threshold `position` stands for.
constexpr std::int32_t thresholdPosition(std::int32_t position) {
    const bool listed =
        position >= 0 && position < static_cast<std::int32_t>(kSensitivityLevels.size());
    return listed ? position : kDefaultSensitivity;
}

constexpr std::int32_t thresholdForSensitivity(std::int32_t position) {
    return kSensitivityLevels[static_cast<std::size_t>(thresholdPosition(position))].threshold32;
}
