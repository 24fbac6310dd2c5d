#include "cli/report/report.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

const char* methodName(MethodKind method) {
    switch (method) {
    case MethodKind::Threshold:
        return "threshold";
    case MethodKind::Correlation:
        return "correlation";
    }
    return "unknown";
}

const char* verdictName(Verdict verdict) {
    switch (verdict) {
    case Verdict::Verified:
        return "verified";
    case Verdict::Doubtful:
        return "doubtful";
    case Verdict::NoResult:
        return "noResult";
    }
    return "unknown";
}

const char* verdictWord(Verdict verdict) {
    return verdict == Verdict::NoResult ? "none" : verdictName(verdict);
}

const char* reasonName(VerdictReason::Kind kind) {
    switch (kind) {
    case VerdictReason::NothingCameBack:
        return "nothingCameBack";
    case VerdictReason::LoopLongerThanWindow:
        return "loopLongerThanWindow";
    case VerdictReason::NotThePulse:
        return "notThePulse";
    case VerdictReason::OnsetNearThreshold:
        return "onsetNearThreshold";
    case VerdictReason::AmbiguousPaths:
        return "ambiguousPaths";
    case VerdictReason::SignalUnexplained:
        return "signalUnexplained";
    case VerdictReason::Dropout:
        return "dropout";
    case VerdictReason::InputsNeverQuiet:
        return "inputsNeverQuiet";
    case VerdictReason::RecordingCutShort:
        return "recordingCutShort";
    case VerdictReason::RecordingUnusable:
        return "recordingUnusable";
    case VerdictReason::RateUnsupported:
        return "rateUnsupported";
    case VerdictReason::SizeUnsupported:
        return "sizeUnsupported";
    }
    return "unknown";
}

std::optional<double> unreportedSamples(const MeasurementResult& result) {
    if (!result.latencySamples) {
        return std::nullopt;
    }
    return *result.latencySamples - static_cast<double>(result.reportedInputLatency) -
           static_cast<double>(result.reportedOutputLatency);
}

std::optional<JackSystemic> jackSystemic(const MeasurementResult& result) {
    const std::optional<double> unreported = unreportedSamples(result);
    if (!unreported || *unreported < 0) {
        return std::nullopt;
    }
    const auto whole = std::lround(*unreported);
    return JackSystemic{whole - whole / 2, whole / 2};
}

std::optional<std::int32_t> inputHeard(const MeasurementResult& result) {
    if (!result.latencySamples) {
        return std::nullopt;
    }
    if (result.correlation) {
        return result.correlation->input;
    }
    if (result.threshold) {
        return result.threshold->input;
    }
    return std::nullopt;
}

std::string pairLatencyText(const MeasurementResult& result) {
    if (!result.latencySamples) {
        return returnedNothing(result) ? "no path" : "no result";
    }
    return formatted(result.method == MethodKind::Correlation ? "%.2f" : "%.0f",
                     *result.latencySamples);
}

std::string channelName(std::int32_t channel, const std::vector<std::string>& names) {
    const auto index = static_cast<std::size_t>(channel);
    return channel >= 0 && index < names.size() ? names[index] : std::string();
}

std::string channelLabel(std::int32_t channel, const std::vector<std::string>& names) {
    const std::string name = channelName(channel, names);
    return std::to_string(channel) + (name.empty() ? "" : " \"" + name + "\"");
}

namespace {

std::vector<std::int32_t> channelsOf(const std::vector<MatrixCell>& cells,
                                     std::int32_t MatrixCell::*kind) {
    std::vector<std::int32_t> channels;
    for (const MatrixCell& cell : cells) {
        if (std::find(channels.begin(), channels.end(), cell.*kind) == channels.end()) {
            channels.push_back(cell.*kind);
        }
    }
    return channels;
}

} // namespace

std::vector<std::int32_t> matrixOutputs(const std::vector<MatrixCell>& cells) {
    return channelsOf(cells, &MatrixCell::output);
}

std::vector<std::int32_t> matrixInputs(const std::vector<MatrixCell>& cells) {
    return channelsOf(cells, &MatrixCell::input);
}

std::string channelsText(const MeasurementResult& result, const Report& report) {
    std::string text = result.outputsPlayed.size() == 1 ? "output " : "outputs ";
    for (std::size_t i = 0; i < result.outputsPlayed.size(); ++i) {
        text += (i ? ", " : "") + channelLabel(result.outputsPlayed[i], report.outputNames);
    }
    const std::optional<std::int32_t> input = inputHeard(result);
    return text + " -> " +
           (input ? "input " + channelLabel(*input, report.inputNames) : "no input");
}

bool returnedNothing(const MeasurementResult& result) {
    const std::vector<VerdictReason>& reasons = result.verdict.reasons;
    return !result.latencySamples &&
           std::any_of(reasons.begin(), reasons.end(), [](const VerdictReason& reason) {
               return reason.kind == VerdictReason::NothingCameBack;
           });
}

double toMs(double samples, double sampleRate) {
    return sampleRate > 0 ? samples * 1000.0 / sampleRate : 0;
}

std::string formatted(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) {
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    }
    va_end(args);
    return text;
}
