// The buffer-switch callback runs on the driver's real-time thread: this program counts every
// heap allocation made while the callback runs, through the session's trampoline and every state
// of its measurement, the posted result included.

#include "engine/correlation_method.h"
#include "session/hand_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> g_counting{false};
std::atomic<int> g_allocations{0};

void* countedAllocation(std::size_t size) {
    if (g_counting.load(std::memory_order_relaxed)) {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
} // namespace

void* operator new(std::size_t size) {
    return countedAllocation(size);
}
void* operator new[](std::size_t size) {
    return countedAllocation(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

// Heap allocations made by `work`.
template <class Work>
int allocationsDuring(Work&& work) {
    g_allocations = 0;
    g_counting = true;
    work();
    g_counting = false;
    return g_allocations.load();
}

// Heap allocations made by the driver's next buffer switch.
int allocationsDuringSwitch(HandSession& hand) {
    return allocationsDuring([&] { hand.driverSwitch(); });
}

TEST(RealTimeCallback, AllocatesNothingInAnyStateOfAMeasurement) {
    // The counter itself must see allocations, or the checks below prove nothing.
    ASSERT_EQ(allocationsDuring([] {
                  int* volatile kept = new int(1);
                  delete kept;
              }),
              1);

    for (ASIOSampleType type : {ASIOSampleType{ASIOSTInt32LSB}, ASIOSampleType{ASIOSTInt24LSB},
                                ASIOSampleType{ASIOSTFloat64LSB}}) {
        HandSession hand(8, 8, 256, 48000, type);
        // Unarmed, then armed through pulse, clear, scans, the pulse found on input 3 at switch 5
        // and judged once what follows it is recorded, and the posted result.
        hand.heard = [](int input, std::int64_t t) {
            return input == 3 && t >= 5 * 256 && t < 6 * 256 ? 0.5 : 0.0;
        };
        EXPECT_EQ(allocationsDuringSwitch(hand), 0);
        ASSERT_EQ(hand.session->arm(), ArmRefusal::None);
        for (int k = 0; k < 8 && hand.session->measurement().armed(); ++k) {
            EXPECT_EQ(allocationsDuringSwitch(hand), 0) << k;
        }
        EXPECT_FALSE(hand.session->measurement().armed());
        EXPECT_EQ(hand.postedResults(), 1);
        const std::optional<MeasurementResult> found = hand.session->collectResult();
        ASSERT_TRUE(found);
        EXPECT_TRUE(found->verdict.verified());

        // Through the time limit, which posts 0, hearing of an overload on the way.
        ASSERT_EQ(hand.session->arm(), ArmRefusal::None);
        EXPECT_EQ(
            allocationsDuring([] { AsioMessageCallback(kAsioOverload, 0, nullptr, nullptr); }), 0);
        for (int k = 0; k < 200 && hand.session->measurement().armed(); ++k) {
            ASSERT_EQ(allocationsDuringSwitch(hand), 0) << k;
        }
        EXPECT_FALSE(hand.session->measurement().armed());
        EXPECT_EQ(hand.postedResults(), 1);
    }
}

// Chosen channels: the callback works on their records alone, and the result names the driver's
// channels.
TEST(RealTimeCallback, ChosenChannelsAllocateNothingAndTheResultNamesThem) {
    HandSession hand(8, 8, 64, 48000, ASIOSTInt32LSB, {{5, 2}, {6}});
    ASSERT_EQ(hand.session->arm(), ArmRefusal::None);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(allocationsDuring([k] { BufferSwitchCallback(k % 2, ASIOTrue); }), 0) << k;
    }
    writePulse(hand.driver.half(1, 0), 64, layoutOf(ASIOSTInt32LSB)); // the second chosen input
    EXPECT_EQ(allocationsDuring([] { BufferSwitchCallback(0, ASIOTrue); }), 0);
    std::memset(hand.driver.half(1, 0), 0, hand.driver.memory[2].size());
    for (int k = 1; k < 8 && hand.session->measurement().armed(); ++k) {
        EXPECT_EQ(allocationsDuring([k] { BufferSwitchCallback(k % 2, ASIOTrue); }), 0) << k;
    }
    const std::optional<MeasurementResult> found = hand.session->collectResult();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->latencySamples, 4 * 64.0);
    EXPECT_EQ(found->threshold->input, 2);
    EXPECT_EQ(found->outputsPlayed, std::vector<std::int32_t>{6});
}

// What a session adds: listening for quiet inputs first, recording the outputs too, watching the
// driver's positions and reports, and ending early when the owner asks.
TEST(RealTimeCallback, ListeningRecordingWatchingAndEndingEarlyAllocateNothing) {
    for (const bool correlation : {false, true}) {
        SCOPED_TRACE(correlation ? "correlation" : "threshold");
        HandSession hand(4, 4, 64, 48000, ASIOSTInt24LSB);
        Measurement& measurement = hand.session->measurement();
        if (correlation) {
            measurement.setMethod(std::make_unique<CorrelationMethod>());
        }
        measurement.setRecording(true);
        measurement.setQuietStart(QuietStart{-50, 0.001, 1});
        hand.heard = [](int, std::int64_t t) { return t < 3 * 64 && t % 2 ? 0.5 : 0.0; };
        ASSERT_EQ(hand.session->arm(), ArmRefusal::None);
        int allocations = 0;
        int k = 0;
        for (; measurement.armed() && k < 1000; ++k) {
            if (k == 40) {
                measurement.requestEnd();
            }
            allocations += allocationsDuring([&] {
                hand.driverSwitch();
                AsioMessageCallback(kAsioOverload, 0, nullptr, nullptr);
            });
        }
        EXPECT_EQ(allocations, 0);
        EXPECT_GT(k, 4);
        EXPECT_LT(k, 50);
    }
}

} // namespace
