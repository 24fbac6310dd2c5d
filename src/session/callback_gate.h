#pragma once
// Keeps the driver's callbacks out of a session that is going away or changing what they touch.
// Each callback enters the gate before it touches the session and leaves it when done; the
// session closes the gate and waits until no callback is inside before it frees buffers or
// closes its driver, so nothing reaches what is gone. Entering and leaving are two atomic
// operations, fit for the real-time thread.
//
// Every operation must stay sequentially consistent (the default). enter() stores to m_inside
// and then loads m_closed; closeAndWait() stores to m_closed and then loads m_inside: each side
// stores, then loads what the other stored, as in Dekker's algorithm. Only the single total
// order of seq_cst operations guarantees that one of the two loads sees the other side's store;
// with acquire/release both could read the old values, and a callback would enter a session
// that has just found nobody inside.

#include <atomic>

class CallbackGate {
public:
    bool enter() {
        m_inside.fetch_add(1);
        if (m_closed.load()) {
            leave();
            return false;
        }
        return true;
    }

    void leave() {
        if (m_inside.fetch_sub(1) == 1 && m_closed.load()) {
            m_inside.notify_all();
        }
    }

    void closeAndWait() {
        m_closed.store(true);
        for (int inside = m_inside.load(); inside != 0; inside = m_inside.load()) {
            m_inside.wait(inside);
        }
    }

    void open() { m_closed.store(false); }

private:
    std::atomic<int> m_inside{0};
    std::atomic<bool> m_closed{false};
};

// The gate of the one active session: the host callbacks carry no context to tell sessions
// apart.
inline CallbackGate& SessionCallbackGate() {
    static CallbackGate gate;
    return gate;
}

// Holds the gate for one callback; false when the session is closing or gone.
class CallbackScope {
public:
    CallbackScope()
        : m_entered(SessionCallbackGate().enter()) {}
    ~CallbackScope() {
        if (m_entered) {
            SessionCallbackGate().leave();
        }
    }
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;
    explicit operator bool() const { return m_entered; }

private:
    bool m_entered;
};
