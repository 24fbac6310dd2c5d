#pragma once
// A session over a driver with no thread of its own (support/hand_driver.h): the test plays the
// driver's thread, one buffer-switch callback at a time.

#include "session/host_callbacks.h"
#include "session/measurement_session.h"
#include "support/hand_driver.h"

#include <gtest/gtest.h>

#include <memory>

// The hand driver, opened, its buffers made and its stream started in a session of its own.
struct HandSession {
    HandSession(int inputs, int outputs, int frames, double rate,
                ASIOSampleType type = ASIOSTInt32LSB)
        : driver(inputs, outputs, frames, rate, type) {
        installOwnedDriver(registry, driver);
        catalog = std::make_unique<DriverCatalog>();
        session = std::make_unique<MeasurementSession>(*catalog, events);
        EXPECT_EQ(session->open(0), OpenResult::Opened);
        EXPECT_EQ(session->prepare(), ASE_OK);
        EXPECT_EQ(session->start(), ASE_OK);
    }
    // Switches on alternating halves from `first` until the measurement ends: how many ran, or
    // -1 when it did not end within `limit`.
    int switchesUntilEnded(int limit, int first = 0) {
        for (int k = 0; k < limit; ++k) {
            BufferSwitchCallback((first + k) % 2, ASIOTrue);
            if (!session->measurement().armed()) {
                return k + 1;
            }
        }
        return -1;
    }
    // Result events posted since the last call.
    int postedResults() {
        int results = 0;
        while (const auto event = events.waitUntil(std::chrono::steady_clock::now())) {
            results += event->kind == SessionEventKind::Result ? 1 : 0;
        }
        return results;
    }

    platform::MemoryPlatform registry;
    platform::ScopedPlatform scoped{registry};
    HandDriver driver;
    std::unique_ptr<DriverCatalog> catalog;
    EventQueue events;
    std::unique_ptr<MeasurementSession> session;
};
