#pragma once
// A recording as a WAV file of 32-bit floats: the stimulus (output 0) first, then every input,
// one channel each, at the recording's rate. Linux writes it with libsndfile; the Windows
// program, which has no libsndfile, writes the format itself (wav_writer_riff.cpp).

#include "engine/detection_method.h"

#include <filesystem>
#include <string>
#include <vector>

// Empty, or why the file was not written. Writes `path` directly: wrap it in writeWhole.
std::string writeWav(const std::filesystem::path& path, const Recording& recording);

// The file's samples, interleaved frame by frame; no channels when nothing was recorded.
struct WavFrames {
    std::size_t channels = 0;
    std::vector<float> samples;
};

inline WavFrames wavFrames(const Recording& recording) {
    std::vector<const std::vector<float>*> channels;
    if (!recording.outputs.empty()) {
        channels.push_back(&recording.outputs.front());
    }
    for (const std::vector<float>& input : recording.inputs) {
        channels.push_back(&input);
    }
    WavFrames frames;
    if (channels.empty() || recording.length == 0) {
        return frames;
    }
    frames.channels = channels.size();
    frames.samples.resize(recording.length * channels.size());
    for (std::size_t n = 0; n < recording.length; ++n) {
        for (std::size_t c = 0; c < channels.size(); ++c) {
            frames.samples[n * channels.size() + c] = (*channels[c])[n];
        }
    }
    return frames;
}
