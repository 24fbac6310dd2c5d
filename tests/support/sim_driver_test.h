#pragma once
// Tests against the loopback simulator, installed in an in-memory registry the way tarvelo-cli
// installs it: each instance the catalog makes takes the settings in force (freewheeling unless
// they say otherwise), and logs its driver calls to one log.

#include "drivers/sim/install_memory.h"
#include "platform/memory/memory_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using Texts = std::vector<std::string>;

class SimDriverTest : public ::testing::Test {
protected:
    SimDriverTest() {
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
    Texts callsSince(std::size_t first) const {
        const Texts all = log->entries();
        return {all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())), all.end()};
    }

    platform::MemoryPlatform registry;
    platform::ScopedPlatform scoped{registry};
    std::shared_ptr<SimCallLog> log = std::make_shared<SimCallLog>();
    SimSettings settings;
};
