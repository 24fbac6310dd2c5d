#pragma once
// A measurement session over the loopback simulator, installed in an in-memory registry the way
// tarvelo-cli installs it and switching buffers on a thread of its own (freewheeling unless the
// settings say otherwise); measured as tarvelo-cli measures, one measureOnce at a time.

#include "drivers/sim/install_memory.h"
#include "platform/memory/memory_platform.h"
#include "session/measure_once.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using Texts = std::vector<std::string>;

class SimSession : public ::testing::Test {
protected:
    SimSession() {
        settings.pacing = SimPacing::Freewheel;
        settings.callLog = log;
        installLoopbackSimulator(
            registry, [this] { return settings; }, "/proc/self/exe");
    }

    // The text form of the simulator's settings, over the ones in force.
    void simulate(std::string_view text) {
        std::string error;
        ASSERT_TRUE(parseSimSettings(text, settings, &error)) << error;
    }
    // A new session (and catalog, which scans the registry) with the simulator open in it.
    void open() {
        session.reset();
        catalog = std::make_unique<DriverCatalog>();
        session = std::make_unique<MeasurementSession>(*catalog, events);
        session->setExplainFailures(true);
        ASSERT_EQ(session->open(0), OpenResult::Opened);
    }
    MeasureOutcome measure() { return measureOnce(*session, events, limits); }
    // The latency one measurement finds, -1 for none.
    double measured() {
        const MeasureOutcome outcome = measure();
        EXPECT_FALSE(outcome.problem) << outcome.problem->driverMessage;
        return outcome.result ? outcome.result->latencySamples.value_or(-1) : -1;
    }
    // What the simulator's time model says a measurement with buffers of `frames` finds.
    double roundTrip(int frames) const { return 2.0 * frames + settings.alignmentDelay(); }
    Texts callsSince(std::size_t first) const {
        const Texts all = log->entries();
        return {all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())), all.end()};
    }

    platform::MemoryPlatform registry;
    platform::ScopedPlatform scoped{registry};
    std::shared_ptr<SimCallLog> log = std::make_shared<SimCallLog>();
    SimSettings settings;
    WaitLimits limits{.quietAfterReset = std::chrono::milliseconds(0)};
    std::unique_ptr<DriverCatalog> catalog;
    EventQueue events;
    std::unique_ptr<MeasurementSession> session; // destroyed before the catalog
};
