#include "cli/report/report.h"

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
