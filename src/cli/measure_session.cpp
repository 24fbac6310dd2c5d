#include "cli/measure_session.h"

#include "app/resource_ids.h"
#include "engine/tarvelo_dlg.h"
#include "framework/headless/headless.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include "cli/jack_session.h"
#include "drivers/sim/install_memory.h"
#include "platform/memory/memory_platform.h"
#endif

namespace {

using namespace std::chrono_literals;

// A measurement lasts at most one second's worth of samples; this only guards against a
// driver that stops calling back.
constexpr auto kMeasurementTimeout = 60s;

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

bool equalIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// The list position of the driver named or numbered by `wanted`, or -1.
int findDriver(const std::vector<std::string>& drivers, const std::string& wanted) {
    char* end = nullptr;
    const long position = std::strtol(wanted.c_str(), &end, 10);
    if (!wanted.empty() && *end == '\0') {
        return position >= 0 && position < static_cast<long>(drivers.size())
                   ? static_cast<int>(position)
                   : -1;
    }
    for (std::size_t i = 0; i < drivers.size(); ++i) {
        if (equalIgnoringCase(drivers[i], wanted)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int sensitivityPosition(std::string text) {
    if (text.size() > 2 && equalIgnoringCase(text.substr(text.size() - 2), "dB")) {
        text.resize(text.size() - 2);
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    const char* levels[] = {"-24", "-18", "-12", "-6"};
    for (int i = 0; i < 4; ++i) {
        if (text == levels[i]) {
            return i;
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
    Session(const SessionOptions& options, DriverHooks hooks)
        : m_options(options)
        , m_hooks(std::move(hooks)) {}

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
        const int driver = findDriver(drivers, wanted);
        if (driver < 0) {
            std::string valid;
            for (std::size_t i = 0; i < drivers.size(); ++i) {
                valid += (i ? ", " : "") + std::to_string(i) + " \"" + drivers[i] + "\"";
            }
            return badInput("unknown driver '" + wanted +
                            "'; installed: " + (valid.empty() ? "none" : valid));
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
                if (dlg.m_sampleRate != rate) {
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

    bool measureOnce(CTarveloDlg& dlg) {
        if (!headless::Click(dlg, ctl::kMeasure)) {
            std::fprintf(stderr, "tarvelo-cli: Measure! is not available\n");
            return false;
        }
        const bool ended = headless::SurfaceOf(dlg)->pumpUntil(
            [&] {
                return dlg.m_autoMeasure == 0 || (dlg.m_measuring == 0 && !dlg.m_streamRunning);
            },
            kMeasurementTimeout);
        if (!ended) {
            std::fprintf(stderr, "tarvelo-cli: the driver stopped calling back\n");
            return false;
        }
        const std::string result = dlg.GetDlgItem(ctl::kStatus)->GetWindowText();
        if (result.rfind("Measurement results:", 0) != 0) {
            return false;
        }
        std::printf("%s\n", result.c_str());
        std::printf("Driver-reported latencies (samples): %s\n",
                    dlg.GetDlgItem(ctl::kReportedLatencies)->GetWindowText().c_str());
        if (m_hooks.afterResult) {
            m_hooks.afterResult(dlg.m_asio);
        }
        std::fflush(stdout);
        return true;
    }

    const SessionOptions& m_options;
    const DriverHooks m_hooks;
};

} // namespace

int RunSession(const SessionOptions& options) {
#if defined(_WIN32)
    return Session(options, {}).run();
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
    const JackSession jack(options);
    jack.install(registry, "/proc/self/exe");
    platform::ScopedPlatform scoped(registry);
    return Session(options, jack.hooks()).run();
#endif
}
