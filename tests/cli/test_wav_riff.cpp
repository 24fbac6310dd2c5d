// The WAV writer of the Windows program (which has no libsndfile) read back with libsndfile:
// the format, rate, channel order and every sample must survive.

#include "cli/report/wav_writer.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <unistd.h>

namespace {

TEST(WavRiff, LibsndfileReadsBackEverySampleOfTheStimulusAndEachInput) {
    struct Case {
        int outputs;
        int inputs;
        double rate;
        std::size_t length;
    };
    const Case cases[] = {{1, 1, 48000, 512}, {2, 3, 44100, 1001}, {4, 8, 192000, 1}};
    const auto path = std::filesystem::temp_directory_path() /
                      ("tarvelo-wav-riff-" + std::to_string(getpid()) + ".wav");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.inputs);
        Recording recording;
        recording.sampleRate = c.rate;
        recording.length = c.length;
        // Distinct values in every channel and frame, both signs, full scale included.
        const auto value = [](std::size_t channel, std::size_t n) {
            return static_cast<float>(std::sin(0.37 * static_cast<double>(n) + channel) *
                                      (n % 7 == 0 ? 1.0 : 0.5));
        };
        recording.outputs.assign(static_cast<std::size_t>(c.outputs), {});
        recording.inputs.assign(static_cast<std::size_t>(c.inputs), {});
        for (std::size_t k = 0; k < recording.outputs.size(); ++k) {
            for (std::size_t n = 0; n < c.length + 5; ++n) { // room past the length is not written
                recording.outputs[k].push_back(value(10 + k, n));
            }
        }
        for (std::size_t i = 0; i < recording.inputs.size(); ++i) {
            for (std::size_t n = 0; n < c.length + 5; ++n) {
                recording.inputs[i].push_back(value(i, n));
            }
        }
        ASSERT_EQ(writeWav(path, recording), "");

        SF_INFO info{};
        SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
        EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        EXPECT_EQ(info.samplerate, static_cast<int>(c.rate));
        ASSERT_EQ(info.channels, 1 + c.inputs);
        ASSERT_EQ(info.frames, static_cast<sf_count_t>(c.length));
        std::vector<float> frames(c.length * static_cast<std::size_t>(info.channels));
        EXPECT_EQ(sf_readf_float(file, frames.data(), info.frames), info.frames);
        sf_close(file);
        for (std::size_t n = 0; n < c.length; ++n) {
            ASSERT_EQ(frames[n * static_cast<std::size_t>(info.channels)], value(10, n)) << n;
            for (std::size_t i = 0; i < static_cast<std::size_t>(c.inputs); ++i) {
                ASSERT_EQ(frames[n * static_cast<std::size_t>(info.channels) + 1 + i], value(i, n))
                    << "input " << i << ", frame " << n;
            }
        }
    }
    EXPECT_EQ(writeWav(path, Recording{}), "nothing was recorded");
    std::filesystem::remove(path);
}

} // namespace
