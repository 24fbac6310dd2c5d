// The switch thread: pacing, the sample position, and stopping, disposing and releasing from
// either side of the callback.

#include "sim/sim_test_host.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

namespace {

using Clock = std::chrono::steady_clock;
using ::testing::Contains;
using ::testing::Not;

std::chrono::nanoseconds periods(int count, ASIOLong bufferSize, double rate) {
    return std::chrono::nanoseconds(
        static_cast<std::int64_t>(count * static_cast<double>(bufferSize) / rate * 1e9));
}

std::uint64_t joined(ASIOSamples value) {
    return (std::uint64_t{value.hi} << 32) | value.lo;
}

TEST(SimThreads, RealTimePacingIsNeverFasterThanTheClock) {
    auto sim = makeSim("pace=realtime,rate=48000");
    ASSERT_TRUE(sim);
    constexpr ASIOLong B = 256;
    constexpr int kSwitches = 12;
    std::array<std::uint64_t, kSwitches> positions{};
    std::array<std::uint64_t, kSwitches> stamps{};
    SimTestHost host(*sim, B, kSwitches, HostChannels::all(sim->settings()));
    host.onSwitch = [&](int k) {
        ASIOSamples position{};
        ASIOTimeStamp stamp{};
        if (sim->getSamplePosition(&position, &stamp) == ASE_OK) {
            positions[static_cast<std::size_t>(k)] = joined(position);
            stamps[static_cast<std::size_t>(k)] = joined(stamp);
        }
    };
    ASIOSamples position{};
    ASIOTimeStamp stamp{};
    EXPECT_EQ(sim->getSamplePosition(&position, &stamp), ASE_SPNotAdvancing);
    const auto before = Clock::now();
    ASSERT_TRUE(host.run());
    const auto lastSwitch = Clock::time_point(std::chrono::nanoseconds(stamps.back()));
    EXPECT_GE(lastSwitch - before, periods(kSwitches - 1, B, 48000));
    for (std::size_t k = 0; k < kSwitches; ++k) {
        EXPECT_EQ(positions[k], k * B) << "switch " << k;
        EXPECT_GE(stamps[k], k == 0 ? 0 : stamps[k - 1]) << "switch " << k;
    }
    EXPECT_EQ(sim->getSamplePosition(&position, &stamp), ASE_SPNotAdvancing);
}

TEST(SimThreads, FreewheelRunsFarFasterThanTheAudioItMoves) {
    auto sim = makeSim("pace=freewheel,rate=22050,max=2048");
    ASSERT_TRUE(sim);
    constexpr ASIOLong B = 2048;
    constexpr int kSwitches = 100; // 9.3 seconds of audio
    SimTestHost host(*sim, B, kSwitches, HostChannels::all(sim->settings()));
    const auto before = Clock::now();
    ASSERT_TRUE(host.run());
    EXPECT_LT(Clock::now() - before, periods(kSwitches, B, 22050) / 2);
}

TEST(SimThreads, StopFromInsideTheCallbackReturnsAtOnceAndTheStreamCanRestart) {
    auto sim = makeSim("");
    ASSERT_TRUE(sim);
    std::atomic<ASIOError> stopResult{ASE_NotPresent};
    std::atomic<ASIOError> restartInside{ASE_OK};
    Signal stopped;
    SimTestHost host(*sim, 64, 12, HostChannels::all(sim->settings()));
    host.onSwitch = [&](int k) {
        if (k == 4) {
            stopResult.store(sim->stop());
            restartInside.store(sim->start());
            stopped.set();
        }
    };
    ASSERT_EQ(host.createBuffers(), ASE_OK);
    ASSERT_EQ(sim->start(), ASE_OK);
    ASSERT_TRUE(stopped.waitFor(kHostTimeout));
    EXPECT_EQ(stopResult.load(), ASE_OK);
    EXPECT_EQ(restartInside.load(), ASE_InvalidMode);

    // The stopped run may still be leaving its last callback: start waits for it.
    ASSERT_EQ(sim->start(), ASE_OK);
    ASSERT_TRUE(host.waitUntilDone());
    EXPECT_EQ(sim->disposeBuffers(), ASE_OK);
    EXPECT_EQ(sim->switchCount(), 12);
    EXPECT_THAT(host.halvesSeen(), ::testing::ElementsAre(0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0))
        << "a new run starts again from half 0";
}

TEST(SimThreads, StopFromOtherThreadsWaitsForTheRunningCallback) {
    for (const char* pace : {"pace=freewheel", "pace=realtime"}) {
        SCOPED_TRACE(pace);
        auto sim = makeSim(pace);
        ASSERT_TRUE(sim);
        std::atomic<bool> inCallback{false};
        Signal inside;
        SimTestHost host(*sim, 64, 0, HostChannels::all(sim->settings()));
        host.onSwitch = [&](int k) {
            inCallback.store(true);
            if (k == 2) {
                inside.set();
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            inCallback.store(false);
        };
        ASSERT_EQ(host.createBuffers(), ASE_OK);
        ASSERT_EQ(sim->start(), ASE_OK);
        ASSERT_TRUE(inside.waitFor(kHostTimeout));
        std::array<bool, 2> callbackRanAfterStop{};
        std::array<ASIOError, 2> results{};
        std::array<std::thread, 2> stoppers;
        for (std::size_t i = 0; i < stoppers.size(); ++i) {
            stoppers[i] = std::thread([&, i] {
                results[i] = sim->stop();
                callbackRanAfterStop[i] = inCallback.load();
            });
        }
        for (std::thread& stopper : stoppers) {
            stopper.join();
        }
        EXPECT_THAT(results, ::testing::Each(ASE_OK));
        EXPECT_THAT(callbackRanAfterStop, ::testing::Each(false));
        EXPECT_EQ(host.switchesSeen(), 3);
        EXPECT_TRUE(host.staysQuiet()) << "no callback after stop returned";
        EXPECT_EQ(sim->disposeBuffers(), ASE_OK);
    }
}

TEST(SimThreads, DisposeBuffersStopsARunningStream) {
    SimSettings settings;
    settings.callLog = std::make_shared<SimCallLog>();
    auto sim = makeSim("", settings);
    ASSERT_TRUE(sim);
    SimTestHost host(*sim, 64, 0, HostChannels::all(sim->settings()));
    ASSERT_TRUE(host.startAndWaitForSwitch(3));
    EXPECT_EQ(sim->disposeBuffers(), ASE_OK);
    EXPECT_TRUE(host.staysQuiet());
    EXPECT_EQ(sim->start(), ASE_InvalidMode);
    EXPECT_THAT(settings.callLog->entries(), Not(Contains("stop")));
}

TEST(SimThreads, DisposeBuffersFromInsideTheCallbackEndsTheRun) {
    auto sim = makeSim("");
    ASSERT_TRUE(sim);
    std::atomic<ASIOError> disposeResult{ASE_NotPresent};
    Signal disposed;
    {
        SimTestHost host(*sim, 64, 0, HostChannels::all(sim->settings()));
        host.onSwitch = [&](int k) {
            if (k == 3) {
                disposeResult.store(sim->disposeBuffers());
                disposed.set();
            }
        };
        ASSERT_EQ(host.createBuffers(), ASE_OK);
        ASSERT_EQ(sim->start(), ASE_OK);
        ASSERT_TRUE(disposed.waitFor(kHostTimeout));
        EXPECT_EQ(sim->stop(), ASE_OK); // waits for the thread to end
        EXPECT_EQ(disposeResult.load(), ASE_OK);
        EXPECT_EQ(sim->switchCount(), 4);
    }
    SimTestHost next(*sim, 64, 5, HostChannels::all(sim->settings()));
    next.setOutputSignal(0, std::vector<double>(64, 0.5));
    ASSERT_TRUE(next.run());
    EXPECT_EQ(next.firstAbove(0, 0.25), 2 * 64 + 32) << "new buffers, a fresh timeline";
}

TEST(SimThreads, TheLastReleaseStopsARunningStream) {
    SimSettings settings;
    settings.callLog = std::make_shared<SimCallLog>();
    LoopbackSimulator* sim = makeSim("", settings).release(); // released by hand below
    ASSERT_NE(sim, nullptr);
    SimTestHost host(*sim, 64, 0, HostChannels::all(sim->settings()));
    ASSERT_TRUE(host.startAndWaitForSwitch(3));
    EXPECT_EQ(sim->Release(), 0u);
    EXPECT_TRUE(host.staysQuiet());
    EXPECT_EQ(settings.callLog->entries().back(), "Release");
}

// Lets the test see the simulator's end: the simulator owns its settings, and with them this.
class EndWatch {
public:
    explicit EndWatch(Signal& ended)
        : m_ended(ended) {}
    EndWatch(const EndWatch&) = delete;
    EndWatch& operator=(const EndWatch&) = delete;
    ~EndWatch() { m_ended.set(); }

private:
    Signal& m_ended;
};

TEST(SimThreads, TheLastReleaseFromInsideTheCallbackEndsTheSimulatorAfterIt) {
    Signal ended;
    SimSettings settings;
    settings.pacing = SimPacing::Freewheel;
    settings.controlPanelHook = [watch = std::make_shared<EndWatch>(ended)] {};
    LoopbackSimulator* sim = createLoopbackSimulator(settings);
    settings = {}; // the simulator's copy is now the only one
    ASSERT_NE(sim, nullptr);
    std::atomic<std::uint32_t> left{99};
    std::atomic<int> callbacksAfterRelease{0};
    std::atomic<bool> released{false};
    SimTestHost host(*sim, 64, 0, HostChannels::all(sim->settings()));
    host.onSwitch = [&](int k) {
        if (released.load()) {
            callbacksAfterRelease.fetch_add(1);
        }
        if (k == 3) {
            left.store(sim->Release());
            released.store(true);
        }
    };
    ASSERT_EQ(host.createBuffers(), ASE_OK);
    ASSERT_EQ(sim->start(), ASE_OK);
    ASSERT_TRUE(ended.waitFor(kHostTimeout));
    EXPECT_EQ(left.load(), 0u);
    EXPECT_EQ(callbacksAfterRelease.load(), 0);
    EXPECT_EQ(host.switchesSeen(), 4);
}

} // namespace
