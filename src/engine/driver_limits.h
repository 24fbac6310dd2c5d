#pragma once
// What a driver may report and still be measured: every interface runs within these, and a value
// past them is a driver's nonsense that must never size memory or be converted unchecked.

#include <cstdint>

inline constexpr double kMinSampleRate = 1000;
inline constexpr double kMaxSampleRate = 1e6;
inline constexpr std::int32_t kMaxBufferFrames = 1 << 20;
inline constexpr std::int32_t kMaxChannels = 4096; // each way
inline constexpr double kMaxRecordingBytes = 1024.0 * 1024 * 1024;
