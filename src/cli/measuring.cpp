// One measurement of a run, and what tarvelo-cli says when it could not be made or found
// nothing.

#include "cli/run.h"

#include "asio/sample_types.h"
#include "cli/interruption.h"
#include "cli/result_text.h"
#include "engine/correlation_method.h"
#include "engine/sensitivity.h"
#include "engine/stimulus.h"
#include "engine/threshold_method.h"

#include <algorithm>

namespace {

// The driver's own words about a failed call, or the code it answered.
std::string driverWords(const std::string& message, ASIOError error) {
    if (!message.empty()) {
        return message;
    }
    const char* name = describeError(error);
    return "it answered " + (name ? std::string(name) : std::to_string(error));
}

std::string refusalText(ArmRefusal refusal, const MeasurementSession& session) {
    switch (refusal) {
    case ArmRefusal::NoOutputChannel:
        return "the driver has no output channel";
    case ArmRefusal::NoInputChannel:
        return "the driver has no input channel";
    case ArmRefusal::UnsupportedFormat: {
        const char* name = describeSampleType(session.outputInfo().type);
        return "the driver's sample format " +
               (name ? std::string(name)
                     : "(type " + std::to_string(session.outputInfo().type) + ")") +
               " is not supported";
    }
    case ArmRefusal::SampleRateOutOfRange:
        return formatted("the driver's sample rate %g Hz is not between 1 kHz and 1 MHz",
                         session.measurement().sampleRate());
    case ArmRefusal::BufferSizeOutOfRange:
        return formatted("the driver's buffer size of %d samples is not usable",
                         static_cast<int>(session.bufferSize()));
    case ArmRefusal::TooManyChannels:
        return "the driver has more channels than any interface";
    case ArmRefusal::RecordingTooLarge:
        return "its recording would need more than 1 GiB of memory";
    case ArmRefusal::ChannelUndescribed:
        return "the driver would not describe its channels (getChannelInfo failed), so their "
               "sample format is unknown";
    case ArmRefusal::NoBuffers:
    case ArmRefusal::StreamStopped:
    case ArmRefusal::None:
        break;
    }
    return "the driver's stream is not running";
}

RunFailure failureOf(const MeasureProblem& problem, const MeasurementSession& session) {
    RunFailure failure{.sampleRate = session.measurement().sampleRate(),
                       .bufferSize = session.bufferSize()};
    switch (problem.kind) {
    case MeasureProblem::BuffersRefused:
        failure.kind = "buffersRefused";
        failure.message = formatted("the driver could not allocate buffers of %d samples: ",
                                    static_cast<int>(session.bufferSize())) +
                          driverWords(problem.driverMessage, problem.error);
        break;
    case MeasureProblem::StartRefused:
        failure.kind = "startRefused";
        failure.message = "the driver could not start its stream: " +
                          driverWords(problem.driverMessage, problem.error);
        break;
    case MeasureProblem::ArmRefused:
        failure.kind = "cannotMeasure";
        failure.message = "cannot measure: " + refusalText(problem.refusal, session);
        break;
    case MeasureProblem::Stopped:
        failure.kind = "interrupted";
        failure.message = interruptionText(interruption());
        break;
    case MeasureProblem::DriverFailed:
        switch (problem.failure) {
        case DriverFailure::StoppedCallingBack:
            failure.kind = "driverStoppedCallingBack";
            failure.message = "the driver stopped calling back";
            break;
        case DriverFailure::CannotReopen:
            failure.kind = "driverCannotReopen";
            failure.message = "the driver asked for a reset and could not be opened again" +
                              (problem.driverMessage.empty() ? "" : ": " + problem.driverMessage);
            break;
        case DriverFailure::TooManyResets:
        case DriverFailure::None:
            failure.kind = "tooManyResets";
            failure.message = formatted("the driver asked for a reset during each of %d "
                                        "measurements; check its settings (or another program "
                                        "using it) and run again",
                                        WaitLimits{}.attempts);
            break;
        }
        break;
    }
    return failure;
}

const WaitLimits kWaitLimits{.stopRequested = [] { return interruption() != 0; }};

// The longest round trip the recording covers, when that is shorter than two buffers: then
// nothing could come back whatever the cabling.
std::optional<double> windowShorterThanTwoBuffers(const MeasurementResult& result) {
    for (const VerdictReason& reason : result.verdict.reasons) {
        if (reason.kind == VerdictReason::LoopLongerThanWindow &&
            reason.value < 2.0 * result.bufferSize) {
            return reason.value;
        }
    }
    return std::nullopt;
}

} // namespace

void noticeDriverEvent(Run& run, const SessionEvent& event) {
    run.console.notice(
        event.kind == SessionEventKind::ResetRequest
            ? "the driver asked for a reset"
            : formatted("the driver changed its sample rate to %.0f Hz", event.sampleRate));
}

void recordProblem(Run& run, const MeasureProblem& problem) {
    run.report.failure = failureOf(problem, run.session);
    run.console.error(run.report.failure->message);
}

std::optional<MeasurementResult> measureOne(Run& run) {
    const MeasureOutcome outcome =
        measureOnce(run.session, run.events, kWaitLimits,
                    [&run](const SessionEvent& event) { noticeDriverEvent(run, event); });
    if (outcome.stopError != ASE_OK) {
        run.console.error("the driver could not stop its stream: " +
                          driverWords(outcome.stopMessage, outcome.stopError));
    }
    if (!outcome.result) {
        recordProblem(run, *outcome.problem);
        return std::nullopt;
    }
    if (run.hooks.afterResult) {
        const kit::DriverAccount account = run.hooks.afterResult(run.session.driver());
        if (account.xruns) {
            run.report.xruns = run.report.xruns.value_or(0) + *account.xruns;
        }
        run.report.jackPorts = account.jackPorts;
    }
    return outcome.result;
}

bool measureInto(Run& run) {
    std::optional<MeasurementResult> result = measureOne(run);
    if (result) {
        run.report.measurements.push_back(std::move(*result));
    }
    return result.has_value();
}

void explainThresholdFailure(Run& run) {
    // After a driver failure there is nothing more to ask of it.
    if (run.report.failure) {
        return;
    }
    const std::vector<MeasurementResult>& measurements = run.report.measurements;
    const bool othersMeasured =
        std::any_of(measurements.begin(), measurements.end(),
                    [](const MeasurementResult& result) { return result.latencySamples; });
    for (const MeasurementResult& result : measurements) {
        // A recording too short for the loop is no level or cabling a correlation could tell.
        if (!result.latencySamples && result.method == MethodKind::Threshold &&
            !windowShorterThanTwoBuffers(result)) {
            run.session.measurement().setMethod(std::make_unique<CorrelationMethod>());
            const MeasureOutcome outcome = measureOnce(run.session, run.events, kWaitLimits);
            run.session.measurement().setMethod(std::make_unique<ThresholdMethod>());
            if (outcome.result) {
                run.console.error(
                    thresholdFailureExplained(*outcome.result, result.sensitivity, othersMeasured));
            }
            return;
        }
    }
}
