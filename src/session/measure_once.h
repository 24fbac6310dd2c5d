#pragma once
// One measurement for an owner that waits for its session's events on its own thread
// (tarvelo-cli, tests): buffers, start, arm, the result, stop and buffers disposed of; a reset
// the driver asks for on the way is taken, the driver opened again and the measurement made
// again, a few times at most.

#include "session/measurement_session.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

struct WaitLimits {
    // A driver that makes no buffer switch for this long while its stream runs has stopped
    // calling back.
    std::chrono::milliseconds stall{5000};
    // After a reset, the time the loop is left to fall quiet before measuring again: what the
    // cut-short measurement sent may still be on its way round, and a new one would take it for
    // its own.
    std::chrono::milliseconds quietAfterReset{1000};
    // Measurements tried in a row while the driver asks for a reset during each.
    int attempts = 3;
    // The owner's wish to give up (a user's Ctrl-C), asked before and between the slices of
    // every wait: true ends the measurement, its stream stopped and its buffers disposed of.
    std::function<bool()> stopRequested{};
};

// Why no measurement was made.
struct MeasureProblem {
    enum Kind {
        BuffersRefused, // createBuffers failed: `error`
        StartRefused,   // start failed: `error`
        ArmRefused,     // the stream cannot be measured: `refusal`
        DriverFailed,   // the session cannot go on: `failure`
        Stopped,        // the owner asked to stop (WaitLimits::stopRequested)
    } kind;
    ASIOError error = ASE_OK;
    ArmRefusal refusal = ArmRefusal::None;
    DriverFailure failure = DriverFailure::None;
    std::string driverMessage{}; // the driver's own words, when the session asked for them
};

struct MeasureOutcome {
    std::optional<MeasurementResult> result; // without a latency when nothing came back
    std::optional<MeasureProblem> problem;   // why there is no result
    ASIOError stopError = ASE_OK;            // what stop answered after the result
    std::string stopMessage;                 // and the driver's words on it
    int resets = 0;                          // driver resets taken on the way
};

// The session's next event, or none once `limits.stopRequested` says so. While the stream runs,
// a driver that makes no buffer switch for `limits.stall` gives a DriverFailure event of its
// own, StoppedCallingBack. While a run is armed, it ends the run as soon as its recording holds
// the result (MeasurementSession::endEarlyIfComplete).
std::optional<SessionEvent> awaitEvent(MeasurementSession& session, EventQueue& events,
                                       const WaitLimits& limits);

// `notice` hears every reset request and rate change as it is taken.
MeasureOutcome measureOnce(MeasurementSession& session, EventQueue& events,
                           const WaitLimits& limits = {},
                           const std::function<void(const SessionEvent&)>& notice = {});
