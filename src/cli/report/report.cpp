#include "cli/report/report.h"

#include <algorithm>
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

std::optional<double> unreportedSamples(const MeasurementResult& result) {
    if (!result.latencySamples) {
        return std::nullopt;
    }
    return *result.latencySamples - static_cast<double>(result.reportedInputLatency) -
           static_cast<double>(result.reportedOutputLatency);
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

const char* verdictWord(Verdict verdict) {
    switch (verdict) {
    case Verdict::Verified:
        return "verified";
    case Verdict::Doubtful:
        return "doubtful";
    case Verdict::NoResult:
        break;
    }
    return "no result";
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
