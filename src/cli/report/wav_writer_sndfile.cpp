#include "cli/report/wav_writer.h"

#include <sndfile.h>

#include <cmath>

std::string writeWav(const std::filesystem::path& path, const Recording& recording) {
    const WavFrames frames = wavFrames(recording);
    if (frames.channels == 0) {
        return "nothing was recorded";
    }
    SF_INFO info{};
    info.samplerate = static_cast<int>(std::lround(recording.sampleRate));
    info.channels = static_cast<int>(frames.channels);
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.string().c_str(), SFM_WRITE, &info);
    if (!file) {
        return sf_strerror(nullptr);
    }
    const auto wanted = static_cast<sf_count_t>(recording.length);
    std::string why = sf_writef_float(file, frames.samples.data(), wanted) == wanted
                          ? std::string()
                          : std::string(sf_strerror(file));
    if (sf_close(file) != 0 && why.empty()) {
        why = "closing it failed";
    }
    return why;
}
