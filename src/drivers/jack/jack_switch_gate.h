#pragma once
// The way from JACK's process thread into the host's bufferSwitch: open between start and stop.
// The process thread enters and leaves with atomic operations only (and, while a stop waits for
// it, one wake-up); closeAndWait returns once the thread is out and cannot enter again. Every
// operation is sequentially consistent: a closer that sees nobody inside is ordered before any
// later entry, which then sees the way closed.

#include <atomic>

class JackSwitchGate {
public:
    bool enter() noexcept {
        if (!m_open.load()) {
            return false;
        }
        m_inside.fetch_add(1);
        if (m_open.load()) {
            return true;
        }
        leave();
        return false;
    }

    void leave() noexcept {
        if (m_inside.fetch_sub(1) == 1 && !m_open.load()) {
            m_inside.notify_all();
        }
    }

    void open() noexcept { m_open.store(true); }
    void close() noexcept { m_open.store(false); }
    bool isOpen() const noexcept { return m_open.load(); }

    // Never on the process thread: it would wait for itself.
    void closeAndWait() noexcept {
        close();
        for (int inside = m_inside.load(); inside != 0; inside = m_inside.load()) {
            m_inside.wait(inside);
        }
    }

private:
    std::atomic<bool> m_open{false};
    std::atomic<int> m_inside{0};
};
