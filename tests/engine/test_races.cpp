// What crosses threads, under load: the measurement re-armed the moment it ends, against the
// simulator's free-running thread. Run under ThreadSanitizer and AddressSanitizer as well.

#include "catalog/driver_catalog.h"
#include "drivers/sim/loopback_sim.h"
#include "engine/measurement.h"
#include "engine/threshold_method.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Measurement* g_measurement = nullptr;
IASIO* g_driver = nullptr;

void measureSwitch(ASIOLong half, ASIOBool) {
    g_measurement->onBufferSwitch(half);
    g_driver->outputReady();
}

TEST(MeasurementRace, ReArmedTheMomentItEndsEveryMeasurementStartsAtSwitchZero) {
    SimSettings settings;
    settings.pacing = SimPacing::Freewheel;
    Measurement measurement(std::make_unique<ThresholdMethod>());
    measurement.setSampleRate(settings.sampleRate);
    // Released first: it stops the thread.
    const std::unique_ptr<LoopbackSimulator, ReleaseDriver> sim(createLoopbackSimulator(settings));
    ASIOBufferInfo channels[] = {{ASIOTrue, 0, {}}, {ASIOFalse, 0, {}}};
    ASIOCallbacks callbacks{measureSwitch, nullptr, nullptr, nullptr};
    constexpr ASIOLong kFrames = 32;
    ASSERT_EQ(sim->createBuffers(channels, 2, kFrames, &callbacks), ASE_OK);
    g_measurement = &measurement;
    g_driver = sim.get();
    ASSERT_EQ(sim->start(), ASE_OK);
    const StreamSnapshot stream{channels, 1, 1, kFrames, layoutOf(settings.sampleType)};
    int rounds = 0;
    int wrong = 0;
    for (const auto end = Clock::now() + 2s; Clock::now() < end; ++rounds) {
        measurement.arm(stream);
        while (measurement.armed() && Clock::now() < end + 5s) {
        }
        const std::int32_t switches = measurement.switchCount(); // final once the flag is clear
        const MeasurementResult result = measurement.result();
        wrong += result.latencySamples != 2.0 * kFrames + settings.loopDelay ||
                 switches != result.threshold->switchIndex + 1;
    }
    EXPECT_EQ(wrong, 0) << "of " << rounds << " measurements";
}

} // namespace
