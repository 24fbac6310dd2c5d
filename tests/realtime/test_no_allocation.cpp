// The buffer-switch callback runs on the driver's real-time thread: this program counts every
// heap allocation made while the callback runs, through the session's trampoline and every state
// of its measurement, the posted result included.

#include "engine/sample_format.h"
#include "session/hand_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
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

// Heap allocations made by one buffer switch on half `half`.
int allocationsDuring(void (*work)(ASIOLong, ASIOBool), int half) {
    g_allocations = 0;
    g_counting = true;
    work(half, ASIOTrue);
    g_counting = false;
    return g_allocations.load();
}

TEST(RealTimeCallback, AllocatesNothingInAnyStateOfAMeasurement) {
    // The counter itself must see allocations, or the checks below prove nothing.
    ASSERT_EQ(allocationsDuring(
                  [](ASIOLong, ASIOBool) {
                      int* volatile kept = new int(1);
                      delete kept;
                  },
                  0),
              1);

    for (ASIOSampleType type : {ASIOSampleType{ASIOSTInt32LSB}, ASIOSampleType{ASIOSTInt24LSB},
                                ASIOSampleType{ASIOSTFloat64LSB}}) {
        HandSession hand(8, 8, 256, 48000, type);
        // Unarmed, then armed through pulse, clear, scans and the posted result.
        EXPECT_EQ(allocationsDuring(BufferSwitchCallback, 0), 0);
        ASSERT_EQ(hand.session->arm(), ArmRefusal::None);
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(allocationsDuring(BufferSwitchCallback, k % 2), 0) << k;
        }
        writePulse(hand.driver.half(3, 0), 256, layoutOf(type));
        EXPECT_EQ(allocationsDuring(BufferSwitchCallback, 0), 0);
        EXPECT_FALSE(hand.session->measurement().armed());
        EXPECT_EQ(hand.postedResults(), 1);
        ASSERT_TRUE(hand.session->collectResult());

        // Through the time limit, which posts 0.
        ASSERT_EQ(hand.session->arm(), ArmRefusal::None);
        std::memset(hand.driver.half(3, 0), 0, hand.driver.memory[6].size());
        for (int k = 0; k < 200 && hand.session->measurement().armed(); ++k) {
            ASSERT_EQ(allocationsDuring(BufferSwitchCallback, k % 2), 0) << k;
        }
        EXPECT_FALSE(hand.session->measurement().armed());
        EXPECT_EQ(hand.postedResults(), 1);
    }
}

} // namespace
