#pragma once
// A way in from JACK's threads: into the host's bufferSwitch (open between start and stop), or
// into a client's owner at all. JACK's threads enter and leave with atomic operations only (and,
// while a closer waits for them, one wake-up); closeAndWait returns once every thread is out and
// none can enter again. Every operation is sequentially consistent: a closer that sees nobody
// inside is ordered before any later entry, which then sees the way closed.

#include <atomic>

class JackGate {
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

    // Never on a thread that is inside: it would wait for itself.
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
