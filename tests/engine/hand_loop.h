#pragma once
// A measurement driven by hand, one buffer switch at a time, over buffer halves the test owns: a
// driver of the usual double-buffer time model whose inputs hear what the test says, typically
// what output 0 played some samples before (sent(t - roundTrip): the round trip a measurement
// reports). Switch k hands over half k % 2 and stream samples k B to k B + B - 1; the driver's
// sample position is k B.

#include "engine/measurement.h"
#include "engine/sensitivity.h"
#include "engine/threshold_method.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

struct HandLoop {
    explicit HandLoop(std::int32_t size, ASIOSampleType type = ASIOSTInt32LSB,
                      std::int32_t count = 1)
        : frames(size)
        , layout(layoutOf(type))
        , channels(static_cast<std::size_t>(2 * count), ASIOBufferInfo{})
        , memory(channels.size() * 2,
                 std::vector<std::uint8_t>(static_cast<std::size_t>(size) *
                                           static_cast<std::size_t>(layout.bytes)))
        , stream{channels.data(), count, count, size, layout} {
        for (std::size_t c = 0; c < channels.size(); ++c) {
            channels[c].isInput = c < static_cast<std::size_t>(count) ? ASIOTrue : ASIOFalse;
            channels[c].buffers[0] = memory[2 * c].data();
            channels[c].buffers[1] = memory[2 * c + 1].data();
        }
        measurement.setSampleRate(48000);
        measurement.setSensitivity(kDefaultSensitivity);
    }

    // What the host learns of each switch besides its half.
    enum class Tells { Position, Time };

    // The driver's next switch: the inputs filled, the callback, the outputs taken to play.
    // Returns what the measurement said.
    SwitchOutcome step(Tells tells = Tells::Position) {
        const int half = static_cast<int>(switches % 2);
        const std::int64_t first = switches * frames;
        for (std::int32_t i = 0; i < stream.numInputs; ++i) {
            for (std::int32_t j = 0; j < frames; ++j) {
                writeNormalised(stream.input(i, half), j, heard ? heard(first + j) : 0, layout);
            }
        }
        SwitchClock clock;
        if (tells == Tells::Position) {
            clock.samplePosition = static_cast<std::uint64_t>(first);
        } else {
            clock.nanoseconds = first * 1'000'000'000 / 48000;
        }
        const SwitchOutcome outcome = measurement.onBufferSwitch(half, clock);
        for (std::int32_t j = 0; j < frames; ++j) {
            played.push_back(static_cast<float>(readNormalised(stream.output(0, half), j, layout)));
        }
        ++switches;
        return outcome;
    }
    // What output 0 played at stream sample t, silence outside what it played.
    double sent(std::int64_t t) const {
        return t >= 0 && t < static_cast<std::int64_t>(played.size())
                   ? played[static_cast<std::size_t>(t)]
                   : 0;
    }
    // A period the driver went on without the host: nothing of it was handed over or played.
    void losePeriod() {
        played.resize(played.size() + static_cast<std::size_t>(frames), 0.0f);
        ++switches;
    }
    // Output 0 holding `value` in both halves, as a driver may hand it over before a run.
    void fillOutput(double value) {
        for (int half = 0; half < 2; ++half) {
            for (std::int32_t j = 0; j < frames; ++j) {
                writeNormalised(stream.output(0, half), j, value, layout);
            }
        }
    }
    // Whether both halves of every output hold only zero bytes: silence in every format.
    bool outputSilent() const {
        return std::all_of(memory.begin() + 2 * stream.numInputs, memory.end(), [](const auto& h) {
            return std::all_of(h.begin(), h.end(), [](std::uint8_t b) { return b == 0; });
        });
    }
    // Switches until the measurement ends, at most `limit`: how many ran, or -1.
    int runToEnd(int limit = 100000) {
        for (int k = 1; k <= limit; ++k) {
            if (step() == SwitchOutcome::Ended) {
                return k;
            }
        }
        return -1;
    }
    MeasurementResult measure() {
        if (measurement.arm(stream) != ArmRefusal::None) {
            return {};
        }
        runToEnd();
        return measurement.result();
    }

    std::int32_t frames;
    SampleLayout layout;
    std::vector<ASIOBufferInfo> channels;
    std::vector<std::vector<std::uint8_t>> memory;
    StreamSnapshot stream;
    std::function<double(std::int64_t)> heard; // every input at stream sample t; none: silence
    std::vector<float> played;                 // what output 0 played, from the first switch on
    std::int64_t switches = 0;
    Measurement measurement{std::make_unique<ThresholdMethod>()};
};
