#include "cli/measure_session.h"

#include "app/resource_ids.h"
#include "app/tarvelo_dlg.h"
#include "cli/console.h"
#include "cli/driver_options.h"
#include "cli/report/csv_report.h"
#include "cli/report/json_report.h"
#include "cli/report/output_file.h"
#include "cli/report/svg_plot.h"
#include "cli/report/text_report.h"
#include "cli/report/wav_writer.h"
#include "cli/result_text.h"
#include "engine/correlation_method.h"
#include "engine/sensitivity.h"
#include "framework/headless/headless.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>

#include <objbase.h>
#else
#include "platform/memory/memory_platform.h"
#endif

namespace {

using namespace std::chrono_literals;

// A measurement lasts at most one second's worth of samples; this only guards against a
// driver that stops calling back.
constexpr auto kMeasurementTimeout = 60s;
// How often a measurement is run again after the driver reset in its middle, and how long it
// waits before it does.
constexpr int kRunsAfterReset = 2;
constexpr auto kLoopFallsQuiet = 1s;

std::vector<std::string> listItems(CTarveloDlg& dlg, int id) {
    std::vector<std::string> items;
    for (const headless::ListItem& item : headless::SurfaceOf(dlg)->control(id)->items) {
        items.push_back(item.text);
    }
    return items;
}

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : ", ") + item;
    }
    return text.empty() ? "none" : text;
}

std::string lowered(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// The list position of the driver numbered by `wanted`, named by it in any case, or named by a
// part of it that matches one driver only; -1 and the reason otherwise.
int findDriver(const std::vector<std::string>& drivers, const std::string& wanted,
               std::string& why) {
    char* end = nullptr;
    const long position = std::strtol(wanted.c_str(), &end, 10);
    if (!wanted.empty() && *end == '\0') {
        if (position >= 0 && position < static_cast<long>(drivers.size())) {
            return static_cast<int>(position);
        }
        why = "no driver at position " + wanted;
        return -1;
    }
    std::vector<int> partial;
    for (std::size_t i = 0; i < drivers.size(); ++i) {
        if (lowered(drivers[i]) == lowered(wanted)) {
            return static_cast<int>(i);
        }
        if (!wanted.empty() && lowered(drivers[i]).find(lowered(wanted)) != std::string::npos) {
            partial.push_back(static_cast<int>(i));
        }
    }
    if (partial.size() == 1) {
        return partial.front();
    }
    if (partial.size() > 1) {
        why = "'" + wanted + "' matches several drivers:";
        for (int i : partial) {
            why += " " + std::to_string(i) + " \"" + drivers[static_cast<std::size_t>(i)] + "\"";
        }
        return -1;
    }
    why = "unknown driver '" + wanted + "'";
    return -1;
}

int sensitivityPosition(std::string text) {
    if (text.size() > 2 && lowered(text.substr(text.size() - 2)) == "db") {
        text.resize(text.size() - 2);
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    for (std::size_t i = 0; i < kSensitivityLevels.size(); ++i) {
        if (text == kSensitivityLevels[i].decibels) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int badInput(const std::string& message) {
    std::fprintf(stderr, "tarvelo-cli: %s\n", message.c_str());
    return kExitBadInput;
}

// The files the options name, checked before anything is opened or measured.
int checkOutputFiles(const SessionOptions& options) {
    for (const std::string* file : {&options.wavFile, &options.plotFile}) {
        if (!file->empty()) {
            if (const std::string why = whyNotWritable(*file); !why.empty()) {
                return badInput(why);
            }
        }
    }
    if (!options.wavFile.empty() && options.wavFile == options.plotFile) {
        return badInput("--wav and --plot name the same file '" + options.wavFile + "'");
    }
    return 0;
}

class Session {
public:
    Session(const SessionOptions& options, DriverHooks hooks)
        : m_options(options)
        , m_hooks(std::move(hooks))
        , m_console(options.quiet) {}

    int run() {
        headless::SetMessageBoxResponder([this](const headless::MessageBoxRecord& box) {
            m_console.messageBox(box);
            return IDOK;
        });
        headless::SetDebugOutputListener(
            [this](const std::string& text) { m_console.status(text); });

        int sensitivity = -1;
        if (m_options.sensitivity &&
            (sensitivity = sensitivityPosition(*m_options.sensitivity)) < 0) {
            return badInput("unknown sensitivity '" + *m_options.sensitivity +
                            "'; valid: -24, -18, -12, -6 (dB)");
        }

        CTarveloDlg dlg;
        dlg.Create();
        std::vector<std::string> drivers = listItems(dlg, ctl::kDriverList);
        drivers.pop_back(); // "--- Select Driver ---"
        if (m_options.listDrivers) {
            for (std::size_t i = 0; i < drivers.size(); ++i) {
                std::printf("%zu: %s\n", i, drivers[i].c_str());
            }
            return kExitMeasured;
        }

        const std::string wanted = m_options.driver.value_or(kDefaultDriverName);
        std::string why;
        const int driver = findDriver(drivers, wanted, why);
        if (driver < 0) {
            std::string valid;
            for (std::size_t i = 0; i < drivers.size(); ++i) {
                valid += (i ? ", " : "") + std::to_string(i) + " \"" + drivers[i] + "\"";
            }
            return badInput(why + "; installed: " + (valid.empty() ? "none" : valid));
        }
        if (m_hooks.beforeOpen) {
            if (const int status = m_hooks.beforeOpen(drivers[static_cast<std::size_t>(driver)]);
                status != 0) {
                return status;
            }
        }
        headless::Select(dlg, ctl::kDriverList, driver);
        if (dlg.m_driverIndex != driver) {
            return kExitNotMeasured;
        }
        m_report.driver = drivers[static_cast<std::size_t>(driver)];

        if (m_options.sampleRate) {
            if (const int status = chooseRate(dlg, *m_options.sampleRate); status != 0) {
                return status;
            }
        }
        if (m_options.bufferSize) {
            if (const int status = chooseBufferSize(dlg, *m_options.bufferSize); status != 0) {
                return status;
            }
        }
        if (sensitivity >= 0) {
            headless::Select(dlg, ctl::kSensitivityList, sensitivity);
        }

        if (m_options.method == "correlation") {
            dlg.m_measurement.setMethod(std::make_unique<CorrelationMethod>());
        }
        int status = m_options.sweep ? sweep(dlg) : repeat(dlg);
        if (status == kExitBadInput || m_report.measurements.empty()) {
            return status;
        }
        status = std::max(status, writeReport(dlg));
        // Once, and after the files: the explanation is a measurement of its own, which would
        // replace the recording they show.
        for (const MeasurementResult& result : m_report.measurements) {
            if (!result.latencySamples && result.method == MethodKind::Threshold) {
                explainThresholdFailure(dlg, result.sensitivity);
                break;
            }
        }
        return status;
    }

private:
    int repeat(CTarveloDlg& dlg) {
        m_report.kind = m_options.repeat > 1 ? RunKind::Repeat : RunKind::Single;
        dlg.m_measurement.setRecording(!m_options.wavFile.empty() || !m_options.plotFile.empty());
        bool allFound = true;
        for (int i = 0; i < m_options.repeat; ++i) {
            allFound = measureOnce(dlg) && allFound;
        }
        return allFound ? kExitMeasured : kExitNotMeasured;
    }

    // Every rate, and at each every buffer size, of the lists given or else of the driver's.
    int sweep(CTarveloDlg& dlg) {
        m_report.kind = RunKind::Sweep;
        std::vector<double> rates = m_options.sweepRates;
        if (rates.empty()) {
            for (const headless::ListItem& item :
                 headless::SurfaceOf(dlg)->control(ctl::kSampleRateList)->items) {
                rates.push_back(static_cast<double>(item.data));
            }
        }
        // Every cell is chosen once before any is measured, so that a rate or size the driver
        // does not offer is reported before the sweep, not in its middle.
        std::vector<std::pair<double, std::vector<int>>> plan;
        for (double rate : rates) {
            if (const int status = chooseRate(dlg, rate); status != 0) {
                return status;
            }
            std::vector<int> sizes = m_options.sweepSizes;
            for (int size : sizes) {
                if (const int status = chooseBufferSize(dlg, size); status != 0) {
                    return status;
                }
            }
            if (sizes.empty()) {
                for (const std::string& item : listItems(dlg, ctl::kBufferSizeList)) {
                    sizes.push_back(std::atoi(item.c_str()));
                }
            }
            plan.emplace_back(rate, std::move(sizes));
        }

        std::size_t cells = 0;
        for (const auto& [rate, sizes] : plan) {
            cells += sizes.size();
        }
        bool allFound = true;
        std::size_t done = 0;
        for (const auto& [rate, sizes] : plan) {
            if (const int status = chooseRate(dlg, rate); status != 0) {
                return status;
            }
            for (int size : sizes) {
                m_console.progress(
                    formatted("Sweep: %zu of %zu, %.0f Hz, %d samples", ++done, cells, rate, size));
                if (const int status = chooseBufferSize(dlg, size); status != 0) {
                    return status;
                }
                allFound = measureOnce(dlg) && allFound;
            }
        }
        m_console.endProgress();
        return allFound ? kExitMeasured : kExitNotMeasured;
    }

    int chooseRate(CTarveloDlg& dlg, double rate) {
        const auto* list = headless::SurfaceOf(dlg)->control(ctl::kSampleRateList);
        for (std::size_t i = 0; i < list->items.size(); ++i) {
            if (static_cast<double>(list->items[i].data) == rate) {
                headless::Select(dlg, ctl::kSampleRateList, static_cast<int>(i));
                if (dlg.m_measurement.sampleRate() != rate) {
                    std::fprintf(stderr, "tarvelo-cli: the driver refused %.0f Hz\n", rate);
                    return kExitNotMeasured;
                }
                return 0;
            }
        }
        char shown[64];
        std::snprintf(shown, sizeof shown, "%g", rate);
        return badInput(std::string("the driver does not offer ") + shown +
                        " Hz; offered: " + joined(listItems(dlg, ctl::kSampleRateList)));
    }

    int chooseBufferSize(CTarveloDlg& dlg, int size) {
        const std::vector<std::string> items = listItems(dlg, ctl::kBufferSizeList);
        std::vector<std::string> sizes;
        for (std::size_t i = 0; i < items.size(); ++i) {
            const int listed = std::atoi(items[i].c_str());
            if (listed == size) {
                headless::Select(dlg, ctl::kBufferSizeList, static_cast<int>(i));
                return 0;
            }
            sizes.push_back(std::to_string(listed));
        }
        return badInput("the driver does not offer a buffer of " + std::to_string(size) +
                        " samples; offered: " + joined(sizes));
    }

    // One press of Measure!, pressed again after a driver reset as a user would, a few times.
    // Whatever it ends with goes into the report; whether it found the pulse is returned.
    bool measureOnce(CTarveloDlg& dlg) {
        for (int attempt = 0; attempt <= kRunsAfterReset; ++attempt) {
            const int resetsBefore = dlg.m_resetsHandled;
            if (const std::optional<MeasurementResult> result = runChain(dlg)) {
                m_report.measurements.push_back(*result);
                if (!result->latencySamples) {
                    m_console.failed();
                }
                return result->latencySamples.has_value();
            }
            if (dlg.m_resetsHandled == resetsBefore || dlg.m_driverIndex < 0) {
                return false;
            }
            // What the cut-short measurement sent may still be travelling round the loop: a new
            // one started at once could take it for its own. A measurement looks one second far.
            headless::SurfaceOf(dlg)->pumpUntil([] { return false; }, kLoopFallsQuiet);
        }
        std::fprintf(stderr,
                     "tarvelo-cli: the driver asked for a reset during each of %d measurements; "
                     "check its settings (or another program using it) and run again\n",
                     kRunsAfterReset + 1);
        return false;
    }

    // The whole Measure! chain; the result it showed, none when it ended without one.
    std::optional<MeasurementResult> runChain(CTarveloDlg& dlg) {
        dlg.m_lastResult.reset();
        if (!headless::Click(dlg, ctl::kMeasure)) {
            std::fprintf(stderr, "tarvelo-cli: Measure! is not available\n");
            return std::nullopt;
        }
        const bool ended = headless::SurfaceOf(dlg)->pumpUntil(
            [&] {
                return dlg.m_autoMeasure == 0 ||
                       (!dlg.m_measurement.armed() && !dlg.m_streamRunning);
            },
            kMeasurementTimeout);
        if (!ended) {
            std::fprintf(stderr, "tarvelo-cli: the driver stopped calling back\n");
            return std::nullopt;
        }
        return dlg.m_lastResult;
    }

    // The report on standard output and into the files asked for.
    int writeReport(const CTarveloDlg& dlg) {
        switch (m_options.format) {
        case ReportFormat::Text:
            std::fputs(textReport(m_report).c_str(), stdout);
            break;
        case ReportFormat::Json:
            std::fputs(jsonReport(m_report).c_str(), stdout);
            break;
        case ReportFormat::Csv:
            std::fputs(csvReport(m_report).c_str(), stdout);
            break;
        }
        // The driver's own account (JACK's xruns) follows a text report of what it measured.
        if (m_options.format == ReportFormat::Text && m_hooks.afterResult &&
            !m_report.measurements.empty() && m_report.measurements.back().latencySamples) {
            m_hooks.afterResult(dlg.m_asio);
        }
        std::fflush(stdout);

        std::string why;
        const Recording& recording = dlg.m_measurement.recording();
        if (!m_options.wavFile.empty()) {
            why = writeWhole(m_options.wavFile, [&recording](const std::filesystem::path& file) {
                return writeWav(file, recording);
            });
        }
        if (!m_options.plotFile.empty() && why.empty()) {
            why = writeTextWhole(m_options.plotFile,
                                 m_report.kind == RunKind::Sweep
                                     ? sweepPlot(m_report)
                                     : onsetPlot(m_report.measurements.back(), recording));
        }
        if (!why.empty()) {
            std::fprintf(stderr, "tarvelo-cli: %s\n", why.c_str());
            return kExitNotMeasured;
        }
        return kExitMeasured;
    }

    // A threshold that finds nothing cannot tell why; one correlation measurement can.
    void explainThresholdFailure(CTarveloDlg& dlg, std::int32_t sensitivity) {
        dlg.m_measurement.setMethod(std::make_unique<CorrelationMethod>());
        const std::optional<MeasurementResult> found = runChain(dlg);
        dlg.m_measurement.setMethod(std::make_unique<ThresholdMethod>());
        if (found) {
            std::fprintf(stderr, "%s\n", thresholdFailureExplained(*found, sensitivity).c_str());
        }
    }

    const SessionOptions& m_options;
    const DriverHooks m_hooks;
    Console m_console;
    Report m_report;
};

} // namespace

int RunSession(const SessionOptions& options) {
    if (const int status = checkOutputFiles(options); status != 0) {
        return status;
    }
    ListedDrivers drivers;
    if (const std::optional<int> ended = drivers.setUp(options.driverOptions)) {
        return *ended;
    }
#if defined(_WIN32)
    // A driver's DLL runs code of its own as it is unloaded: when COM frees it as the catalog
    // ends COM, and as the process exits. A driver that crashes there would replace the exit
    // code decided here. So this session holds COM open, which keeps the DLL loaded, and once
    // the dialog has released the driver and the results are flushed, the process ends with
    // TerminateProcess, which runs no DLL's unload code; ExitProcess would run all of it.
    CoInitialize(nullptr);
    const int code = Session(options, drivers.hooks()).run();
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    return code;
#else
    platform::MemoryPlatform registry;
    drivers.install(registry, "/proc/self/exe");
    platform::ScopedPlatform scoped(registry);
    return Session(options, drivers.hooks()).run();
#endif
}
