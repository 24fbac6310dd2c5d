#include "cli/setup.h"

#include "engine/correlation_method.h"
#include "engine/sensitivity.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

namespace {

// What the driver offers, as `show` words each: "none" for nothing.
template <class T, class Show>
std::string offered(const std::vector<T>& values, Show show) {
    std::string text;
    for (const T& value : values) {
        text += (text.empty() ? "" : ", ") + show(value);
    }
    return text.empty() ? "none" : text;
}

int badInput(Run& run, const std::string& message) {
    run.console.error(message);
    return kExitBadInput;
}

} // namespace

int sensitivityPosition(std::string text) {
    if (text.size() > 2 && std::tolower(static_cast<unsigned char>(text[text.size() - 2])) == 'd' &&
        std::tolower(static_cast<unsigned char>(text.back())) == 'b') {
        text.resize(text.size() - 2);
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    std::int32_t decibels = 0;
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(text.data(), last, decibels);
    if (text.empty() || error != std::errc() || end != last) {
        return -1;
    }
    for (std::size_t i = 0; i < kSensitivityLevels.size(); ++i) {
        if (decibels == kSensitivityLevels[i].decibels) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int chooseRate(Run& run, double rate) {
    const std::vector<ASIOSampleRate>& rates = run.session.rates();
    if (std::find(rates.begin(), rates.end(), rate) == rates.end()) {
        return badInput(run, formatted("the driver does not offer %g Hz; offered: ", rate) +
                                 offered(rates, [](double r) { return formatted("%.0f Hz", r); }));
    }
    if (run.session.measurement().sampleRate() == rate) {
        return 0;
    }
    if (run.session.setSampleRate(rate) != ASE_OK) {
        const std::string& why = run.session.driverMessage();
        run.console.error(formatted("the driver refused %.0f Hz", rate) +
                          (why.empty() ? "" : ": " + why));
        return kExitNotMeasured;
    }
    return 0;
}

int chooseBufferSize(Run& run, int size) {
    if (!run.session.setBufferSize(size)) {
        return badInput(run, "the driver does not offer a buffer of " + std::to_string(size) +
                                 " samples; offered: " +
                                 offered(run.session.bufferSizes(), [](std::int32_t listed) {
                                     return std::to_string(listed);
                                 }));
    }
    return 0;
}

int applySetup(Run& run, int sensitivity) {
    const CliOptions& options = run.options;
    if (options.sampleRate) {
        if (const int status = chooseRate(run, *options.sampleRate); status != 0) {
            return status;
        }
    }
    if (options.bufferSize) {
        if (const int status = chooseBufferSize(run, *options.bufferSize); status != 0) {
            return status;
        }
    }
    Measurement& measurement = run.session.measurement();
    measurement.setSensitivity(sensitivity >= 0 ? sensitivity : kDefaultSensitivity);
    if (options.method == "correlation") {
        measurement.setMethod(std::make_unique<CorrelationMethod>(
            options.maxLatencySeconds.value_or(kDefaultMaxLatencySeconds)));
    }
    measurement.setRecording(!options.wavFile.empty() || !options.plotFile.empty());
    return 0;
}
