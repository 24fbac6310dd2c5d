#include "cli/report/report.h"

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

int inputChannel(const MeasurementResult& result) {
    return result.threshold     ? result.threshold->input
           : result.correlation ? result.correlation->input
                                : -1;
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
