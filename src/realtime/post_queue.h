#pragma once
// A bounded queue that any number of threads may push to and one thread pops from. Pushing
// never blocks, never allocates and fails when the queue is full, so a real-time thread can
// post through it. WaitablePostQueue adds a way for the popping thread to sleep until something
// arrives; the push then also wakes it, one non-blocking system call at most.

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <semaphore>

template <class T, std::size_t Capacity>
class PostQueue {
    static_assert((Capacity & (Capacity - 1)) == 0, "capacity must be a power of two");

public:
    PostQueue() {
        for (std::size_t i = 0; i < Capacity; ++i) {
            m_slots[i].sequence.store(i, std::memory_order_relaxed);
        }
    }

    bool push(const T& value) {
        std::size_t position = m_tail.load(std::memory_order_relaxed);
        for (;;) {
            Slot& slot = m_slots[position & (Capacity - 1)];
            const std::size_t sequence = slot.sequence.load(std::memory_order_acquire);
            const auto lag = static_cast<std::intptr_t>(sequence - position);
            if (lag == 0) {
                if (m_tail.compare_exchange_weak(position, position + 1,
                                                 std::memory_order_relaxed)) {
                    slot.value = value;
                    slot.sequence.store(position + 1, std::memory_order_release);
                    return true;
                }
            } else if (lag < 0) {
                return false;
            } else {
                position = m_tail.load(std::memory_order_relaxed);
            }
        }
    }

    // Only the consuming thread may call this.
    bool pop(T& out) {
        Slot& slot = m_slots[m_head & (Capacity - 1)];
        if (slot.sequence.load(std::memory_order_acquire) != m_head + 1) {
            return false;
        }
        out = slot.value;
        slot.sequence.store(m_head + Capacity, std::memory_order_release);
        ++m_head;
        return true;
    }

private:
    struct Slot {
        std::atomic<std::size_t> sequence;
        T value;
    };
    std::array<Slot, Capacity> m_slots;
    alignas(64) std::atomic<std::size_t> m_tail{0};
    alignas(64) std::size_t m_head = 0;
};

template <class T, std::size_t Capacity>
class WaitablePostQueue {
public:
    bool push(const T& value) {
        if (!m_queue.push(value)) {
            return false;
        }
        m_posted.release();
        return true;
    }

    // Only the consuming thread may call these two.
    bool pop(T& out) { return m_queue.pop(out); }
    // Sleeps until something may have been pushed since the last wait, or until `deadline`;
    // false when the deadline came first. A wake may find the queue already emptied by pop.
    bool waitUntil(std::chrono::steady_clock::time_point deadline) {
        return m_posted.try_acquire_until(deadline);
    }

private:
    PostQueue<T, Capacity> m_queue;
    std::counting_semaphore<> m_posted{0};
};
