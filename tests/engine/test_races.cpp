// What crosses threads, under load: the measurement re-armed the moment it ends, and its
// recording read while it grows and its run ended early, against the simulator's free-running
// thread. Run under ThreadSanitizer and AddressSanitizer as well.

#include "catalog/driver_catalog.h"
#include "drivers/sim/loopback_sim.h"
#include "engine/correlation_method.h"
#include "engine/measurement.h"
#include "engine/sensitivity.h"
#include "engine/threshold_method.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Measurement* g_measurement = nullptr;
IASIO* g_driver = nullptr;

// The owner's callback path as a host that watches for dropouts has it: the driver's sample
// position, asked inside the switch.
void measureSwitch(ASIOLong half, ASIOBool) {
    ASIOSamples position{};
    ASIOTimeStamp stamp{};
    SwitchClock clock;
    if (g_driver->getSamplePosition(&position, &stamp) == ASE_OK) {
        clock.samplePosition = std::uint64_t{position.hi} << 32 | position.lo;
    }
    g_measurement->onBufferSwitch(half, clock);
    g_driver->outputReady();
}

// A measurement of the simulator's one input and output on the simulator's own thread.
struct SimMeasurement {
    static constexpr ASIOLong kFrames = 32;

    SimMeasurement(const SimSettings& settings, std::unique_ptr<DetectionMethod> method)
        : measurement(std::move(method))
        , sim(createLoopbackSimulator(settings)) {
        measurement.setSampleRate(settings.sampleRate);
        measurement.setSensitivity(kDefaultSensitivity);
        EXPECT_EQ(sim->createBuffers(channels, 2, kFrames, &callbacks), ASE_OK);
        g_measurement = &measurement;
        g_driver = sim.get();
        EXPECT_EQ(sim->start(), ASE_OK);
    }
    bool awaitEnd(Clock::duration limit = 10s) {
        for (const auto end = Clock::now() + limit; measurement.armed();) {
            if (Clock::now() > end) {
                return false;
            }
        }
        return true;
    }

    Measurement measurement;
    const std::unique_ptr<LoopbackSimulator, ReleaseDriver> sim; // released first: it stops the thread
    ASIOBufferInfo channels[2] = {{ASIOTrue, 0, {}}, {ASIOFalse, 0, {}}};
    ASIOCallbacks callbacks{measureSwitch, nullptr, nullptr, nullptr};
    const StreamSnapshot stream{channels, 1, 1, kFrames, layoutOf(ASIOSTInt32LSB)};
};

TEST(MeasurementRace, ReArmedTheMomentItEndsEveryMeasurementStartsAtSwitchZero) {
    SimSettings settings;
    settings.pacing = SimPacing::Freewheel;
    SimMeasurement run(settings, std::make_unique<ThresholdMethod>());
    int rounds = 0;
    int wrong = 0;
    std::optional<std::int32_t> switchesEach;
    for (const auto end = Clock::now() + 2s; Clock::now() < end; ++rounds) {
        ASSERT_EQ(run.measurement.arm(run.stream), ArmRefusal::None);
        ASSERT_TRUE(run.awaitEnd());
        const std::int32_t switches = run.measurement.switchCount(); // final once the flag is clear
        const MeasurementResult result = run.measurement.result();
        switchesEach = switchesEach.value_or(switches);
        wrong += result.latencySamples != 2.0 * SimMeasurement::kFrames + settings.loopDelay ||
                 !result.verdict.verified() || switches != *switchesEach;
    }
    EXPECT_EQ(wrong, 0) << "of " << rounds << " measurements";
}

// The owner reads the recording while the driver's thread goes on writing it, and ends the run
// once the prefix is enough: the result comes from that prefix, and nothing in it changed.
TEST(MeasurementRace, TheOwnerReadsTheRecordingAsItGrowsAndEndsTheRunEarly) {
    SimMeasurement run(SimSettings{}, std::make_unique<CorrelationMethod>());
    ASSERT_EQ(run.measurement.arm(run.stream), ArmRefusal::None);
    std::vector<float> early;
    while (run.measurement.recordedSamples() < 14400) { // 0.3 s
        const Recording& sofar = run.measurement.recording();
        if (early.empty() && sofar.length >= 7200) {
            early.assign(sofar.inputs[0].begin(), sofar.inputs[0].begin() + 7200);
        }
        ASSERT_TRUE(run.measurement.armed());
    }
    run.measurement.requestEnd();
    ASSERT_TRUE(run.awaitEnd());
    const MeasurementResult result = run.measurement.result();
    const Recording& recording = run.measurement.recording();
    EXPECT_LT(recording.length, 48000u);
    ASSERT_EQ(early.size(), 7200u);
    EXPECT_TRUE(std::equal(early.begin(), early.end(), recording.inputs[0].begin()));
    ASSERT_TRUE(result.latencySamples);
    EXPECT_NEAR(*result.latencySamples, 2.0 * SimMeasurement::kFrames + 32, 0.01);
}

} // namespace
