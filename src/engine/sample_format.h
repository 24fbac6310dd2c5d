#pragma once
// Every sample conversion in one place: what each driver sample type means in memory, reading
// and writing samples, and the test pulse with its detection. Levels are given for 32-bit
// integers and scaled to each format's real width, so Int16LSB and Int32LSB get exactly the
// classic values (0x4000 / 0x40000000 and the threshold shifted right by 16 bits).

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
// Writes saturate: integer formats at full scale, Float32 at its largest value, and a value that is
// not a number writes silence.
double readNormalised(const void* buffer, int index, SampleLayout layout);
void writeNormalised(void* buffer, int index, double value, SampleLayout layout);

// The first `frames` samples of `half`, normalised, into `into`: readNormalised for a whole
// buffer, with the format decided once.
void readNormalisedBlock(const void* half, std::int32_t frames, SampleLayout layout, float* into);

// Half the distance between the highest and the lowest of the first `frames` samples of `half`,
// normalised: how loud a buffer is, whatever DC offset it rides on. Samples that are not a number
// are passed over.
double swingOf(const void* half, std::int32_t frames, SampleLayout layout);

inline constexpr std::int32_t kPulseLevel = 0x40000000;

// Writes the pulse to every sample of one buffer half. The layout must be supported.
void writePulse(void* half, std::int32_t frames, SampleLayout layout);

// Position of the first sample strictly above the 32-bit `threshold32`, scaled to the layout;
// -1 when there is none.
std::int32_t findFirstAbove(const void* half, std::int32_t frames, SampleLayout layout,
                            std::int32_t threshold32);
