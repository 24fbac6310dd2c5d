#pragma once
// A session over a driver with no thread of its own (support/hand_driver.h): the test plays the
// driver's thread, one buffer-switch callback at a time.

#include "session/host_callbacks.h"
#include "session/measurement_session.h"
#include "support/hand_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

// The hand driver, opened, its buffers made for the `chosen` channels (every one by default) and
// its stream started in a session of its own.
struct HandSession {
    HandSession(int inputs, int outputs, int frames, double rate,
                ASIOSampleType type = ASIOSTInt32LSB, ChannelSelection chosen = {})
        : driver(inputs, outputs, frames, rate, type) {
        installOwnedDriver(registry, driver);
        catalog = std::make_unique<DriverCatalog>();
        session = std::make_unique<MeasurementSession>(*catalog, events);
        EXPECT_EQ(session->open(0), OpenResult::Opened);
        EXPECT_TRUE(session->selectChannels(std::move(chosen)));
        EXPECT_EQ(session->prepare(), ASE_OK);
        EXPECT_EQ(session->start(), ASE_OK);
    }
    // The driver's next switch, on alternating halves: its inputs filled from `heard` (input,
    // stream sample counted from the first switch the test makes) when it is set.
    void driverSwitch() {
        const int half = static_cast<int>(switches % 2);
        driver.samplePosition = static_cast<std::uint64_t>(switches * driver.frames());
        for (int i = 0; heard && i < driver.inputs(); ++i) {
            for (int j = 0; j < driver.frames(); ++j) {
                writeNormalised(driver.half(i, half), j, heard(i, switches * driver.frames() + j),
                                driver.layout());
            }
        }
        BufferSwitchCallback(half, ASIOTrue);
        ++switches;
    }
    // Switches until the measurement ends: how many ran, or -1 when it did not end in `limit`.
    int switchesUntilEnded(int limit) {
        for (int k = 0; k < limit; ++k) {
            driverSwitch();
            if (!session->measurement().armed()) {
                return k + 1;
            }
        }
        return -1;
    }
    // Whether every output holds silence.
    bool outputsSilent() const {
        return std::all_of(driver.memory.begin() + 2 * driver.inputs(), driver.memory.end(),
                           [](const std::vector<std::uint8_t>& half) {
                               return std::all_of(half.begin(), half.end(),
                                                  [](std::uint8_t b) { return b == 0; });
                           });
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
    std::int64_t switches = 0;
    std::function<double(int, std::int64_t)> heard;
};
