// What a real interface adds to the simulated cables: fractional delays, converter filters, DC,
// hum, a ghost path, floating inputs and clipping, each heard through the simulator's own thread.

#include "sim/sim_test_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Recording {
    SimPtr sim;
    std::unique_ptr<SimTestHost> host;
    std::int64_t samples = 0;

    double at(std::size_t input, std::int64_t n) const { return host->inputSample(input, n); }
    double peak(std::size_t input) const {
        double largest = 0;
        for (std::int64_t n = 0; n < samples; ++n) {
            largest = std::max(largest, std::abs(at(input, n)));
        }
        return largest;
    }
};

// Every input through `switches` switches of B samples while output 0 plays `signal` from
// switch 0, position 0.
Recording record(const std::string& settings, ASIOLong bufferSize, int switches,
                 std::vector<double> signal = {}) {
    Recording recording{makeSim(settings), nullptr, std::int64_t{switches} * bufferSize};
    if (!recording.sim) {
        return recording;
    }
    recording.host = std::make_unique<SimTestHost>(*recording.sim, bufferSize, switches,
                                                   HostChannels::all(recording.sim->settings()));
    recording.host->setOutputSignal(0, std::move(signal));
    EXPECT_TRUE(recording.host->run());
    return recording;
}

// A Gaussian click, band-limited far inside 0.45 x rate, comes back whole, its energy centred
// where the alignment delay says.
TEST(SimRealism, AClickIsCentredAtTwoBuffersPlusTheAlignmentDelay) {
    const struct {
        const char* settings;
        ASIOLong bufferSize;
    } cases[] = {
        {"delay=32", 64},
        {"delay=24.5", 32},
        {"delay=100.25", 64},
        {"delay=60.73,type=Int16LSB", 32},
        {"delay=24,converter=on", 32},
        {"delay=300,converter=on,type=Float32LSB", 256},
        {"delay=1000.73,converter=on", 128},
    };
    constexpr double kClickCentre = 32;
    std::vector<double> click(65);
    double clickEnergy = 0;
    for (std::size_t n = 0; n < click.size(); ++n) {
        const double t = (static_cast<double>(n) - kClickCentre) / 2.0;
        click[n] = 0.5 * std::exp(-t * t / 2);
        clickEnergy += click[n] * click[n];
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        const Recording r = record(c.settings, c.bufferSize, 8 + 1100 / c.bufferSize, click);
        ASSERT_TRUE(r.host);
        double energy = 0;
        double moment = 0;
        for (std::int64_t n = 0; n < r.samples; ++n) {
            const double power = r.at(0, n) * r.at(0, n);
            energy += power;
            moment += power * static_cast<double>(n);
        }
        const double truth = 2.0 * c.bufferSize + r.sim->settings().alignmentDelay() + kClickCentre;
        EXPECT_NEAR(moment / energy, truth, 0.01);
        EXPECT_NEAR(energy / clickEnergy, 1.0, 1e-3) << "the click keeps its level";
    }
}

// A steady tone comes back delayed by exactly the alignment delay inside the band, and silenced
// at the Nyquist frequency by the converter.
TEST(SimRealism, TonesComeBackShiftedByTheAlignmentDelayOrStopped) {
    const struct {
        const char* settings;
        ASIOLong bufferSize;
        double frequency; // cycles per sample
        bool passes;
    } cases[] = {
        {"delay=24,converter=on", 32, 0.3, true},
        {"delay=100.25,converter=on", 64, 0.4, true},
        {"delay=100,converter=on", 64, 0.5, false},
        {"delay=24.5", 32, 0.4, true},
        {"delay=100.73", 64, 0.1, true},
    };
    constexpr double kLevel = 0.5;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.settings) + " at " + std::to_string(c.frequency));
        const auto tone = [&](double n) {
            return kLevel * std::cos(2 * std::numbers::pi * c.frequency * n);
        };
        std::vector<double> played(static_cast<std::size_t>(16 * c.bufferSize));
        for (std::size_t n = 0; n < played.size(); ++n) {
            played[n] = tone(static_cast<double>(n));
        }
        const Recording r = record(c.settings, c.bufferSize, 20, played);
        ASSERT_TRUE(r.host);
        const double arrival = 2.0 * c.bufferSize + r.sim->settings().alignmentDelay();
        // Away from the tone's ends, where the filter sees only the steady tone.
        const auto margin = 2 * kCableFilterHalfLength + 2;
        for (auto n = static_cast<std::int64_t>(arrival) + margin;
             n < static_cast<std::int64_t>(arrival) + std::ssize(played) - margin; ++n) {
            const double expected = c.passes ? tone(static_cast<double>(n) - arrival) : 0.0;
            ASSERT_NEAR(r.at(0, n), expected, c.passes ? 5e-4 : 0.01 * kLevel) << "sample " << n;
        }
    }
}

// A one-sample impulse on output 0 arrives at input 0 through every path, each at its own delay
// and gain, over the DC offset, and nothing else is heard.
TEST(SimRealism, AnImpulseArrivesThroughEveryPathAtItsDelayAndGain) {
    constexpr ASIOLong B = 32;
    constexpr double kImpulse = 0.5;
    const struct {
        const char* settings;
        std::vector<std::pair<int, double>> arrivals; // delay after 2B, and gain
        double offset;                                // heard throughout
    } cases[] = {
        {"delay=100,ghost_delay=10,ghost_gain=-20", {{100, 1.0}, {10, 0.1}}, 0.0},
        {"delay=40,invert=1,ghost_delay=300,ghost_gain=-40", {{40, -1.0}, {300, 0.01}}, 0.0},
        {"cable=off,ghost_gain=0", {{0, 1.0}}, 0.0},
        {"delay=5,dc=-40", {{5, 1.0}}, 0.01},
        {"delay=5,gain=-6,dc=-20,dc_polarity=-", {{5, std::pow(10.0, -6.0 / 20)}}, -0.1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        const Recording r = record(c.settings, B, 14, {kImpulse});
        ASSERT_TRUE(r.host);
        for (std::int64_t n = 0; n < r.samples; ++n) {
            double expected = c.offset;
            for (const auto& [delay, gain] : c.arrivals) {
                expected += n == 2 * B + delay ? kImpulse * gain : 0.0;
            }
            ASSERT_NEAR(r.at(0, n), expected, 1e-9) << "sample " << n;
        }
    }
}

TEST(SimRealism, HumHasTheMainsPeriodAtEveryRate) {
    const struct {
        const char* settings;
        double period;
    } cases[] = {
        {"hum=50,rate=48000", 960}, {"hum=60,rate=44100", 735}, {"hum=50,rate=192000", 3840}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        const Recording r = record(std::string(c.settings) + ",hum_level=-20,cable=off", 256, 64);
        ASSERT_TRUE(r.host);
        EXPECT_NEAR(r.peak(0), 0.1, 1e-4);
        std::vector<double> risingCrossings;
        for (std::int64_t n = 1; n < r.samples; ++n) {
            const double before = r.at(0, n - 1);
            const double after = r.at(0, n);
            if (before < 0 && after >= 0) {
                risingCrossings.push_back(static_cast<double>(n - 1) + before / (before - after));
            }
        }
        ASSERT_GE(risingCrossings.size(), 3u);
        for (std::size_t i = 1; i < risingCrossings.size(); ++i) {
            EXPECT_NEAR(risingCrossings[i] - risingCrossings[i - 1], c.period, 0.01);
        }
    }
}

TEST(SimRealism, OnlyInputsWithoutACableFloat) {
    const double loud = std::pow(10.0, -6.0 / 20); // what floating=on means
    const struct {
        const char* settings;
        double peaks[2]; // per input; 0: silent throughout
    } cases[] = {
        {"floating=on,route=0>0:1>-", {0.0, loud}},
        {"floating=on", {0.0, 0.0}},
        {"floating=-20,cable=off", {0.1, 0.1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        const Recording r = record(c.settings, 64, 16);
        ASSERT_TRUE(r.host);
        for (std::size_t input = 0; input < 2; ++input) {
            EXPECT_LE(r.peak(input), c.peaks[input] + 1e-9) << "input " << input;
            EXPECT_GE(r.peak(input), 0.95 * c.peaks[input]) << "input " << input;
        }
        EXPECT_EQ(record(c.settings, 64, 16).host->inputBytes(1), r.host->inputBytes(1))
            << "the seed decides the noise";
    }
}

TEST(SimRealism, TooMuchGainSaturatesAtFullScaleInEveryFormat) {
    constexpr ASIOLong B = 64;
    constexpr double kGainDb = 12; // the sine below peaks at twice full scale
    const double gain = std::pow(10.0, kGainDb / 20);
    std::vector<double> sine(4 * B);
    for (std::size_t n = 0; n < sine.size(); ++n) {
        sine[n] = 0.5 * std::sin(0.05 * static_cast<double>(n));
    }
    for (const char* type :
         {"Int16LSB", "Int24LSB", "Int32LSB", "Int32LSB20", "Float32LSB", "Float64LSB"}) {
        SCOPED_TRACE(type);
        const Recording r = record(
            "delay=0,type=" + std::string(type) + ",gain=" + std::to_string(kGainDb), B, 8, sine);
        ASSERT_TRUE(r.host);
        const SampleLayout layout = r.host->layout();
        const double step =
            layout.encoding == SampleEncoding::Float ? 1e-6 : std::ldexp(1.0, 1 - layout.bits);
        for (std::size_t n = 0; n < sine.size(); ++n) {
            const double played =
                readNormalised(r.host->outputBytes(0).data(), static_cast<int>(n), layout);
            const double expected = std::clamp(gain * played, -1.0, 1.0);
            ASSERT_NEAR(r.at(0, 2 * B + static_cast<std::int64_t>(n)), expected, step)
                << "sample " << n;
        }
    }
}

} // namespace
