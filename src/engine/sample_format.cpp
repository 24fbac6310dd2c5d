#include "engine/sample_format.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

namespace {

constexpr double kFloatMax = std::numeric_limits<float>::max();

// An integer format with `bits` significant bits keeps the top `bits` of a 32-bit level.
constexpr std::int32_t scaleToBits(std::int32_t level32, int bits) {
    return level32 >> (32 - bits);
}

double scaleToFloat(std::int32_t level32) {
    return std::ldexp(level32, -31);
}

template <class Stored>
void fillWith(void* half, std::int32_t frames, Stored value) {
    auto* at = static_cast<std::uint8_t*>(half);
    for (std::int32_t i = 0; i < frames; ++i) {
        std::memcpy(at + static_cast<std::ptrdiff_t>(i) * sizeof(Stored), &value, sizeof(Stored));
    }
}

template <class Stored, class Level>
std::int32_t scan(const void* half, std::int32_t frames, Level threshold) {
    const auto* at = static_cast<const std::uint8_t*>(half);
    for (std::int32_t i = 0; i < frames; ++i) {
        Stored v;
        std::memcpy(&v, at + static_cast<std::ptrdiff_t>(i) * sizeof(Stored), sizeof(Stored));
        if (v > threshold) {
            return i;
        }
    }
    return -1;
}

std::int32_t scanPacked24(const void* half, std::int32_t frames, std::int32_t threshold) {
    const auto* at = static_cast<const std::uint8_t*>(half);
    for (std::int32_t i = 0; i < frames; ++i) {
        if (readInteger(at + static_cast<std::ptrdiff_t>(i) * 3, 3) > threshold) {
            return i;
        }
    }
    return -1;
}

} // namespace

void writePulse(void* half, std::int32_t frames, SampleLayout layout) {
    if (layout.encoding == SampleEncoding::Float) {
        if (layout.bytes == 4) {
            fillWith(half, frames, static_cast<float>(scaleToFloat(kPulseLevel)));
        } else {
            fillWith(half, frames, scaleToFloat(kPulseLevel));
        }
        return;
    }
    const std::int32_t pulse = scaleToBits(kPulseLevel, layout.bits);
    switch (layout.bytes) {
    case 2:
        fillWith(half, frames, static_cast<std::int16_t>(pulse));
        break;
    case 3: {
        auto* at = static_cast<std::uint8_t*>(half);
        for (std::int32_t i = 0; i < frames; ++i) {
            writeInteger(at + static_cast<std::ptrdiff_t>(i) * 3, 3, pulse);
        }
        break;
    }
    default:
        fillWith(half, frames, pulse);
        break;
    }
}

std::int32_t findFirstAbove(const void* half, std::int32_t frames, SampleLayout layout,
                            std::int32_t threshold32) {
    if (layout.encoding == SampleEncoding::Float) {
        const double threshold = scaleToFloat(threshold32);
        return layout.bytes == 4 ? scan<float>(half, frames, static_cast<float>(threshold))
                                 : scan<double>(half, frames, threshold);
    }
    const std::int32_t threshold = scaleToBits(threshold32, layout.bits);
    switch (layout.bytes) {
    case 2:
        return scan<std::int16_t>(half, frames, threshold);
    case 3:
        return scanPacked24(half, frames, threshold);
    default:
        return scan<std::int32_t>(half, frames, threshold);
    }
}

double readNormalised(const void* buffer, int index, SampleLayout layout) {
    const auto* at = static_cast<const std::uint8_t*>(buffer) + index * layout.bytes;
    if (layout.encoding == SampleEncoding::Float) {
        if (layout.bytes == 4) {
            float v;
            std::memcpy(&v, at, 4);
            return v;
        }
        double v;
        std::memcpy(&v, at, 8);
        return v;
    }
    return std::ldexp(readInteger(at, layout.bytes), 1 - layout.bits);
}

void writeNormalised(void* buffer, int index, double value, SampleLayout layout) {
    auto* at = static_cast<std::uint8_t*>(buffer) + index * layout.bytes;
    if (std::isnan(value)) {
        value = 0; // nothing that is not a number reaches an output
    }
    if (layout.encoding == SampleEncoding::Float) {
        if (layout.bytes == 4) {
            const auto v = static_cast<float>(std::clamp<double>(value, -kFloatMax, kFloatMax));
            std::memcpy(at, &v, 4);
        } else {
            std::memcpy(at, &value, 8);
        }
        return;
    }
    const double fullScale = std::ldexp(1.0, layout.bits - 1);
    const double scaled = std::clamp(std::nearbyint(value * fullScale), -fullScale, fullScale - 1);
    writeInteger(at, layout.bytes, static_cast<std::int32_t>(scaled));
}

namespace {

template <class Stored>
void readBlock(const void* half, std::int32_t frames, double scale, float* into) {
    const auto* at = static_cast<const std::uint8_t*>(half);
    for (std::int32_t i = 0; i < frames; ++i) {
        Stored v;
        std::memcpy(&v, at + static_cast<std::ptrdiff_t>(i) * sizeof(Stored), sizeof(Stored));
        if constexpr (sizeof(Stored) > sizeof(float)) {
            // A double beyond the float range saturates; not-a-number stays what it is.
            into[i] = static_cast<float>(std::clamp<double>(v * scale, -kFloatMax, kFloatMax));
        } else {
            into[i] = static_cast<float>(static_cast<double>(v) * scale);
        }
    }
}

} // namespace

void readNormalisedBlock(const void* half, std::int32_t frames, SampleLayout layout, float* into) {
    if (layout.encoding == SampleEncoding::Float) {
        if (layout.bytes == 4) {
            readBlock<float>(half, frames, 1.0, into);
        } else {
            readBlock<double>(half, frames, 1.0, into);
        }
        return;
    }
    const double scale = std::ldexp(1.0, 1 - layout.bits);
    switch (layout.bytes) {
    case 2:
        readBlock<std::int16_t>(half, frames, scale, into);
        break;
    case 4:
        readBlock<std::int32_t>(half, frames, scale, into);
        break;
    default:
        for (std::int32_t i = 0; i < frames; ++i) {
            into[i] = static_cast<float>(readNormalised(half, i, layout));
        }
        break;
    }
}

namespace {

template <class Stored>
double swingOfBlock(const void* half, std::int32_t frames, double scale) {
    const auto* at = static_cast<const std::uint8_t*>(half);
    Stored low{};
    Stored high{};
    bool seen = false;
    for (std::int32_t i = 0; i < frames; ++i) {
        Stored v;
        std::memcpy(&v, at + static_cast<std::ptrdiff_t>(i) * sizeof(Stored), sizeof(Stored));
        if constexpr (std::is_floating_point_v<Stored>) {
            if (std::isnan(v)) {
                continue;
            }
        }
        low = !seen || v < low ? v : low;
        high = !seen || v > high ? v : high;
        seen = true;
    }
    return (static_cast<double>(high) - static_cast<double>(low)) * scale / 2;
}

} // namespace

double swingOf(const void* half, std::int32_t frames, SampleLayout layout) {
    if (layout.encoding == SampleEncoding::Float) {
        return layout.bytes == 4 ? swingOfBlock<float>(half, frames, 1.0)
                                 : swingOfBlock<double>(half, frames, 1.0);
    }
    const double scale = std::ldexp(1.0, 1 - layout.bits);
    switch (layout.bytes) {
    case 2:
        return swingOfBlock<std::int16_t>(half, frames, scale);
    case 4:
        return swingOfBlock<std::int32_t>(half, frames, scale);
    default: {
        const auto* at = static_cast<const std::uint8_t*>(half);
        std::int32_t low = 0;
        std::int32_t high = 0;
        for (std::int32_t i = 0; i < frames; ++i) {
            const std::int32_t v = readInteger(at + static_cast<std::ptrdiff_t>(i) * 3, 3);
            low = i == 0 ? v : std::min(low, v);
            high = i == 0 ? v : std::max(high, v);
        }
        return (static_cast<double>(high) - low) * scale / 2;
    }
    }
}
