#pragma once
// What a measurement session tells its owner, and the sink it tells it through. The driver's
// thread posts results, reset requests and rate changes; the owner's thread posts a driver
// failure when the session cannot go on (a reset whose driver cannot be opened again), so that
// an owner that lives on its events learns it in order.

#include "realtime/post_queue.h"

#include <chrono>
#include <cstdint>
#include <optional>

enum class SessionEventKind {
    Result,        // the armed measurement ended; the session's collectResult() has it
    ResetRequest,  // the driver asks to be closed and opened again
    RateChange,    // the driver's sample rate changed; already in force
    DriverFailure, // the session cannot go on with this driver
};

enum class DriverFailure {
    None,
    StoppedCallingBack, // no buffer switch for longer than a measurement allows
    CannotReopen,       // after a reset the driver could not be opened again
    TooManyResets,      // the driver asked for a reset during every attempt
};

struct SessionEvent {
    SessionEventKind kind = SessionEventKind::Result;
    // Result: the latency in whole samples as the switch knew it, 0 for none.
    std::int64_t wholeSamples = 0;
    double sampleRate = 0; // RateChange: the new rate
    DriverFailure failure = DriverFailure::None;
};

// The owner's side of the events. post() may be called on the driver's real-time thread: it must
// not allocate, lock or wait. announce() comes first, on the thread the driver called from, for a
// sink that shows the driver's notice there (a reset request before the session marks it
// pending, a rate change after the rate is in force); that thread waits until it returns.
class SessionEvents {
public:
    virtual ~SessionEvents() = default;
    virtual void announce(const SessionEvent&) {}
    virtual void post(const SessionEvent& event) = 0;
};

// The sink of an owner that waits for its events on its own thread (tarvelo-cli, tests).
class EventQueue final : public SessionEvents {
public:
    void post(const SessionEvent& event) override { m_queue.push(event); }

    // Owner's thread: the next event, or none once `deadline` has passed.
    std::optional<SessionEvent> waitUntil(std::chrono::steady_clock::time_point deadline) {
        SessionEvent event;
        while (!m_queue.pop(event)) {
            if (!m_queue.waitUntil(deadline)) {
                return m_queue.pop(event) ? std::optional(event) : std::nullopt;
            }
        }
        return event;
    }

    // Owner's thread: forgets every event not yet taken.
    void clear() {
        SessionEvent event;
        while (m_queue.pop(event)) {
        }
    }

private:
    WaitablePostQueue<SessionEvent, 64> m_queue;
};
