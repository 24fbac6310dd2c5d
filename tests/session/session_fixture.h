#pragma once
// A measurement session over the loopback simulator, switching buffers on a thread of its own;
// measured as tarvelo-cli measures, one measureOnce at a time.

#include "engine/correlation_method.h"
#include "session/measure_once.h"
#include "support/sim_driver_test.h"

#include <chrono>

class SimSession : public SimDriverTest {
protected:
    // A new session (and catalog, which scans the registry) with the simulator open in it.
    void open() {
        session.reset();
        catalog = std::make_unique<DriverCatalog>();
        session = std::make_unique<MeasurementSession>(*catalog, events);
        session->setExplainFailures(true);
        ASSERT_EQ(session->open(0), OpenResult::Opened);
    }
    // A new session on the simulator's defaults, freewheeling, with `text` over them; measuring
    // with the correlation method when asked.
    void openWith(const std::string& text, bool correlation = false) {
        settings = SimSettings{};
        settings.pacing = SimPacing::Freewheel;
        simulate(text);
        open();
        if (correlation) {
            session->measurement().setMethod(std::make_unique<CorrelationMethod>());
        }
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

    WaitLimits limits{.quietAfterReset = std::chrono::milliseconds(0)};
    std::unique_ptr<DriverCatalog> catalog;
    EventQueue events;
    std::unique_ptr<MeasurementSession> session; // destroyed before the catalog
};
