#pragma once
// What each driver sample type means in memory: width, significant bits and encoding. The one
// place that knows the formats; the pulse code and the simulator both read samples through it.

#include "asio/asio.h"

#include <bit>
#include <cstdint>
#include <cstring>

static_assert(std::endian::native == std::endian::little,
              "the LSB sample types are read and written in place");

enum class SampleEncoding { Unsupported, Integer, Float };

struct SampleLayout {
    SampleEncoding encoding = SampleEncoding::Unsupported;
    int bytes = 0; // storage per sample
    int bits = 0;  // significant bits of an integer sample, its sign included
};

constexpr SampleLayout layoutOf(ASIOSampleType type) {
    switch (type) {
    case ASIOSTInt16LSB:
        return {SampleEncoding::Integer, 2, 16};
    case ASIOSTInt24LSB:
        return {SampleEncoding::Integer, 3, 24};
    case ASIOSTInt32LSB:
        return {SampleEncoding::Integer, 4, 32};
    case ASIOSTInt32LSB16:
        return {SampleEncoding::Integer, 4, 16};
    case ASIOSTInt32LSB18:
        return {SampleEncoding::Integer, 4, 18};
    case ASIOSTInt32LSB20:
        return {SampleEncoding::Integer, 4, 20};
    case ASIOSTInt32LSB24:
        return {SampleEncoding::Integer, 4, 24};
    case ASIOSTFloat32LSB:
        return {SampleEncoding::Float, 4, 32};
    case ASIOSTFloat64LSB:
        return {SampleEncoding::Float, 8, 64};
    default:
        return {};
    }
}

constexpr bool isSupported(ASIOSampleType type) {
    return layoutOf(type).encoding != SampleEncoding::Unsupported;
}

// The name a driver's documentation would use, e.g. "Int32LSB"; "unknown (N)" is not produced
// here, callers print the number themselves for types outside the table.
const char* describeSampleType(ASIOSampleType type);

// A short name for a driver result code ("ASE_OK", "ASE_NotPresent", ...); null when unknown.
const char* describeError(ASIOError error);

// Integer samples, stored in the low bytes of their container and sign-extended.
inline std::int32_t readInteger(const std::uint8_t* at, int bytes) {
    switch (bytes) {
    case 2: {
        std::int16_t v;
        std::memcpy(&v, at, 2);
        return v;
    }
    case 3:
        return static_cast<std::int32_t>((static_cast<std::uint32_t>(at[0]) << 8) |
                                         (static_cast<std::uint32_t>(at[1]) << 16) |
                                         (static_cast<std::uint32_t>(at[2]) << 24)) >>
               8;
    default: {
        std::int32_t v;
        std::memcpy(&v, at, 4);
        return v;
    }
    }
}

inline void writeInteger(std::uint8_t* at, int bytes, std::int32_t value) {
    std::uint8_t raw[4];
    std::memcpy(raw, &value, 4);
    std::memcpy(at, raw, static_cast<std::size_t>(bytes));
}

// Full-scale-normalised access (1.0 is full scale), for code that mixes or scales signals.
double readNormalised(const void* buffer, int index, SampleLayout layout);
void writeNormalised(void* buffer, int index, double value, SampleLayout layout);
