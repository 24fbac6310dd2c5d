// The WAV format written by hand, for the Windows program: RIFF, a "fmt " chunk for IEEE
// floats (format 3) with its extension size, the "fact" chunk that non-PCM formats carry, and
// the samples, all little-endian as the format is.

#include "cli/report/wav_writer.h"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

static_assert(std::endian::native == std::endian::little,
              "samples are written as they lie in memory");

namespace {

constexpr std::uint16_t kIeeeFloat = 3;
constexpr std::uint32_t kHeaderBytes = 58; // RIFF and WAVE, fmt (18), fact (4), data headers

void put(std::string& bytes, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) {
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

} // namespace

std::string writeWav(const std::filesystem::path& path, const Recording& recording) {
    const WavFrames frames = wavFrames(recording);
    if (frames.channels == 0) {
        return "nothing was recorded";
    }
    const std::uint64_t dataBytes = frames.samples.size() * sizeof(float);
    if (dataBytes > std::numeric_limits<std::uint32_t>::max() - kHeaderBytes) {
        return "the recording is too long for a WAV file";
    }
    const auto channels = static_cast<std::uint32_t>(frames.channels);
    const auto rate = static_cast<std::uint32_t>(std::lround(recording.sampleRate));
    std::string header = "RIFF";
    put(header, kHeaderBytes - 8 + static_cast<std::uint32_t>(dataBytes), 4);
    header += "WAVEfmt ";
    put(header, 18, 4);
    put(header, kIeeeFloat, 2);
    put(header, channels, 2);
    put(header, rate, 4);
    put(header, rate * channels * 4, 4); // bytes per second
    put(header, channels * 4, 2);        // bytes per frame
    put(header, 32, 2);                  // bits per sample
    put(header, 0, 2);                   // no extension
    header += "fact";
    put(header, 4, 4);
    put(header, static_cast<std::uint32_t>(recording.length), 4);
    header += "data";
    put(header, static_cast<std::uint32_t>(dataBytes), 4);

    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    if (!file) {
        return std::strerror(errno);
    }
    const bool written = std::fwrite(header.data(), 1, header.size(), file) == header.size() &&
                         std::fwrite(frames.samples.data(), sizeof(float), frames.samples.size(),
                                     file) == frames.samples.size();
    const int savedErrno = errno;
    const bool closed = std::fclose(file) == 0;
    return written && closed ? std::string()
                             : std::string(std::strerror(written ? errno : savedErrno));
}
