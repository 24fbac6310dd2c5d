#include "cli/measure_session.h"

#include "app/resource_ids.h"
#include "app/tarvelo_dlg.h"
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
#include "drivers/sim/install_memory.h"
#include "platform/memory/memory_platform.h"
#endif

namespace {

using namespace std::chrono_literals;

// A measurement lasts at most one second's worth of samples; this only guards against a
// driver that stops calling back.
constexpr auto kMeasurementTimeout = 60s;
// How often a measurement is run again after the driver reset in its middle.
constexpr int kRunsAfterReset = 2;

void printLines(const char* prefix, const std::string& text) {
    std::string shown;
    for (char c : text) {
        if (c != '\r') {
            shown += c;
        }
    }
    std::fprintf(stderr, "%s%s\n", prefix, shown.c_str());
}

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

class Session {
public:
    explicit Session(const SessionOptions& options)
        : m_options(options) {}

    int run() {
        headless::SetMessageBoxResponder([](const headless::MessageBoxRecord& box) {
            printLines(("[message box] " + box.caption + ": ").c_str(), box.text);
            return IDOK;
        });
        headless::SetDebugOutputListener(
            [](const std::string& text) { printLines("[status] ", text); });

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
        headless::Select(dlg, ctl::kDriverList, driver);
        if (dlg.m_driverIndex != driver) {
            return kExitNotMeasured;
        }

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

        int measured = 0;
        for (int i = 0; i < m_options.count; ++i) {
            measured += measureOnce(dlg) ? 1 : 0;
        }
        return measured == m_options.count ? kExitMeasured : kExitNotMeasured;
    }

private:
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
    bool measureOnce(CTarveloDlg& dlg) {
        for (int attempt = 0; attempt <= kRunsAfterReset; ++attempt) {
            const int resetsBefore = dlg.m_resetsHandled;
            const std::optional<MeasurementResult> result = runChain(dlg);
            if (result) {
                return report(*result);
            }
            if (dlg.m_resetsHandled == resetsBefore || dlg.m_driverIndex < 0) {
                return false;
            }
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

    static bool report(const MeasurementResult& result) {
        if (!result.latencySamples) {
            return false;
        }
        std::printf("Measurement results: %.0f samples / %.2f ms\n", *result.latencySamples,
                    result.latencyMs().value_or(0));
        std::printf("Driver-reported latencies (samples): in: %d out: %d\n",
                    static_cast<int>(result.reportedInputLatency),
                    static_cast<int>(result.reportedOutputLatency));
        std::fflush(stdout);
        return true;
    }

    const SessionOptions& m_options;
};

} // namespace

int RunSession(const SessionOptions& options) {
#if defined(_WIN32)
    // A driver's DLL runs code of its own as it is unloaded: when COM frees it as the catalog
    // ends COM, and as the process exits. A driver that crashes there would replace the exit
    // code decided here. So this session holds COM open, which keeps the DLL loaded, and once
    // the dialog has released the driver and the results are flushed, the process ends with
    // TerminateProcess, which runs no DLL's unload code; ExitProcess would run all of it.
    CoInitialize(nullptr);
    const int code = Session(options).run();
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    return code;
#else
    if (options.simHelp) {
        std::printf("%s\n", simSettingsHelp());
        return kExitMeasured;
    }
    SimSettings settings;
    std::string error;
    if (!parseSimSettings(options.simSettings, settings, &error)) {
        return badInput("bad simulator settings: " + error);
    }
    platform::MemoryPlatform registry;
    installLoopbackSimulator(
        registry, [&settings] { return settings; }, "/proc/self/exe");
    platform::ScopedPlatform scoped(registry);
    return Session(options).run();
#endif
}
