// One measurement of a run, and what tarvelo-cli says when it could not be made or found
// nothing.

#include "cli/run.h"

#include "asio/sample_types.h"
#include "cli/result_text.h"
#include "engine/correlation_method.h"
#include "engine/sensitivity.h"
#include "engine/threshold_method.h"

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

std::string nothingCameBack(const MeasurementResult& result) {
    if (result.method == MethodKind::Correlation) {
        return "nothing came back: no input heard the sweep";
    }
    const std::string_view level =
        kSensitivityLevels[static_cast<std::size_t>(thresholdPosition(result.sensitivity))]
            .listText;
    return "nothing came back: no input crossed the " + std::string(level) +
           " threshold within one second's worth of samples";
}

} // namespace

std::optional<MeasurementResult> measureOne(Run& run) {
    const MeasureOutcome outcome =
        measureOnce(run.session, run.events, {}, [&run](const SessionEvent& event) {
            run.console.notice(
                event.kind == SessionEventKind::ResetRequest
                    ? "the driver asked for a reset"
                    : formatted("the driver changed its sample rate to %.0f Hz", event.sampleRate));
        });
    if (outcome.stopError != ASE_OK) {
        run.console.error("the driver could not stop its stream: " +
                          driverWords(outcome.stopMessage, outcome.stopError));
    }
    if (!outcome.result) {
        run.report.failure = failureOf(*outcome.problem, run.session);
        run.console.error(run.report.failure->message);
    }
    return outcome.result;
}

bool measureInto(Run& run) {
    std::optional<MeasurementResult> result = measureOne(run);
    if (!result) {
        return false;
    }
    if (!result->latencySamples) {
        run.console.error(nothingCameBack(*result));
    }
    run.report.measurements.push_back(std::move(*result));
    return true;
}

void explainThresholdFailure(Run& run) {
    // After a driver failure there is nothing more to ask of it.
    if (run.report.failure) {
        return;
    }
    for (const MeasurementResult& result : run.report.measurements) {
        if (!result.latencySamples && result.method == MethodKind::Threshold) {
            run.session.measurement().setMethod(std::make_unique<CorrelationMethod>());
            const MeasureOutcome outcome = measureOnce(run.session, run.events);
            run.session.measurement().setMethod(std::make_unique<ThresholdMethod>());
            if (outcome.result) {
                run.console.error(thresholdFailureExplained(*outcome.result, result.sensitivity));
            }
            return;
        }
    }
}
