#include "session/measure_once.h"

#include <algorithm>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// How one attempt ended: with the outcome filled in, or with the driver asking for a reset.
enum class Attempt { Done, ResetAsked };

MeasureProblem problem(MeasureProblem::Kind kind, const MeasurementSession& session) {
    return {.kind = kind, .driverMessage = session.driverMessage()};
}

Attempt attemptOnce(MeasurementSession& session, EventQueue& events, const WaitLimits& limits,
                    const std::function<void(const SessionEvent&)>& notice,
                    MeasureOutcome& outcome) {
    // A driver that fails while a reset it asked for is pending fails because of it.
    const auto resetOr = [&](MeasureProblem found) {
        if (session.resetPending() != 0) {
            return Attempt::ResetAsked;
        }
        outcome.problem = std::move(found);
        return Attempt::Done;
    };
    if (const ASIOError error = session.prepare(); error != ASE_OK) {
        MeasureProblem found = problem(MeasureProblem::BuffersRefused, session);
        found.error = error;
        return resetOr(std::move(found));
    }
    if (const ASIOError error = session.start(); error != ASE_OK) {
        MeasureProblem found = problem(MeasureProblem::StartRefused, session);
        found.error = error;
        session.disposeBuffers();
        return resetOr(std::move(found));
    }
    if (const ArmRefusal refusal = session.arm(); refusal != ArmRefusal::None) {
        session.stop();
        session.disposeBuffers();
        outcome.problem = MeasureProblem{.kind = MeasureProblem::ArmRefused, .refusal = refusal};
        return Attempt::Done;
    }
    for (;;) {
        const std::optional<SessionEvent> event = awaitEvent(session, events, limits);
        if (!event) {
            session.stop();
            session.disposeBuffers();
            outcome.problem = MeasureProblem{.kind = MeasureProblem::Stopped};
            return Attempt::Done;
        }
        switch (event->kind) {
        case SessionEventKind::Result:
            // A result event a re-arm made stale has nothing to collect.
            if (std::optional<MeasurementResult> result = session.collectResult()) {
                outcome.result = std::move(result);
                outcome.stopError = session.stop();
                outcome.stopMessage = outcome.stopError != ASE_OK ? session.driverMessage() : "";
                session.disposeBuffers();
                return Attempt::Done;
            }
            break;
        case SessionEventKind::RateChange:
            if (notice) {
                notice(*event);
            }
            break;
        case SessionEventKind::ResetRequest:
            if (notice) {
                notice(*event);
            }
            return Attempt::ResetAsked;
        case SessionEventKind::DriverFailure:
            session.stop();
            session.disposeBuffers();
            outcome.problem =
                MeasureProblem{.kind = MeasureProblem::DriverFailed, .failure = event->failure};
            return Attempt::Done;
        }
    }
}

} // namespace

std::optional<SessionEvent> awaitEvent(MeasurementSession& session, EventQueue& events,
                                       const WaitLimits& limits) {
    // Waits in slices, each time checking that the driver still switches buffers and, while a
    // run is armed, whether its recording already holds the result.
    const std::chrono::milliseconds stall = limits.stall;
    const auto idleSlice = std::min<Clock::duration>(stall, std::chrono::milliseconds(100));
    const auto armedSlice = std::min<Clock::duration>(stall, std::chrono::milliseconds(10));
    std::int64_t switches = session.switchesSeen();
    Clock::time_point progress = Clock::now();
    for (;;) {
        if (limits.stopRequested && limits.stopRequested()) {
            return std::nullopt;
        }
        const auto slice = session.state() == SessionState::Armed ? armedSlice : idleSlice;
        if (std::optional<SessionEvent> event = events.waitUntil(Clock::now() + slice)) {
            return event;
        }
        session.endEarlyIfComplete();
        const SessionState state = session.state();
        const bool running = state == SessionState::Running || state == SessionState::Armed;
        if (!running || session.switchesSeen() != switches) {
            switches = session.switchesSeen();
            progress = Clock::now();
        } else if (Clock::now() - progress >= stall) {
            return SessionEvent{.kind = SessionEventKind::DriverFailure,
                                .failure = DriverFailure::StoppedCallingBack};
        }
    }
}

MeasureOutcome measureOnce(MeasurementSession& session, EventQueue& events,
                           const WaitLimits& limits,
                           const std::function<void(const SessionEvent&)>& notice) {
    MeasureOutcome outcome;
    for (int attempt = 0; attempt < limits.attempts; ++attempt) {
        if (limits.stopRequested && limits.stopRequested()) {
            outcome.problem = MeasureProblem{.kind = MeasureProblem::Stopped};
            return outcome;
        }
        events.clear();
        // A reset the driver asked for between measurements is taken before the next one.
        if (session.resetPending() == 0 &&
            attemptOnce(session, events, limits, notice, outcome) == Attempt::Done) {
            return outcome;
        }
        ++outcome.resets;
        if (session.reset() != OpenResult::Opened) {
            outcome.problem = problem(MeasureProblem::DriverFailed, session);
            outcome.problem->failure = DriverFailure::CannotReopen;
            return outcome;
        }
        if (attempt + 1 < limits.attempts) {
            std::this_thread::sleep_for(limits.quietAfterReset);
        }
    }
    outcome.problem = MeasureProblem{.kind = MeasureProblem::DriverFailed,
                                     .failure = DriverFailure::TooManyResets};
    return outcome;
}
