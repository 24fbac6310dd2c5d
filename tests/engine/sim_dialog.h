#pragma once
// The main dialog on the headless surface with the loopback simulator installed as its only
// driver, running on its own thread: the whole program below the window, driven by clicks.

#include "app/resource_ids.h"
#include "app/tarvelo_dlg.h"
#include "drivers/sim/install_memory.h"
#include "framework/headless/headless.h"
#include "platform/memory/memory_platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class SimDialogTest : public ::testing::Test {
protected:
    SimDialogTest() {
        headless::ResetEnvironment();
        settings.pacing = SimPacing::Freewheel;
        settings.callLog = log;
        installLoopbackSimulator(
            registry, [this] { return settings; }, "/proc/self/exe");
    }

    // Makes the dialog (scanning the registry) and picks the simulator, as a user would.
    void openDriver() {
        createDialog();
        ASSERT_TRUE(headless::Select(*dlg, ctl::kDriverList, 0));
    }

    void createDialog() {
        dlg = std::make_unique<CTarveloDlg>();
        dlg->Create();
    }

    headless::HeadlessDialog& surface() { return *headless::SurfaceOf(*dlg); }
    CWnd& control(int id) { return *dlg->GetDlgItem(id); }
    std::string status() { return control(ctl::kStatus).GetWindowText(); }
    bool enabled(int id) { return control(id).IsWindowEnabled(); }
    std::vector<std::string> items(int id) {
        std::vector<std::string> texts;
        for (const auto& item : surface().control(id)->items) {
            texts.push_back(item.text);
        }
        return texts;
    }

    // Presses Measure! and runs the modal loop until the chain has ended.
    bool measure(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        if (!headless::Click(*dlg, ctl::kMeasure)) {
            return false;
        }
        return surface().pumpUntil(
            [&] {
                return dlg->m_autoMeasure == 0 ||
                       (!dlg->m_measurement.armed() && !dlg->m_streamRunning);
            },
            timeout);
    }

    static std::string resultText(int samples, double rate) {
        char text[128];
        std::snprintf(text, sizeof text, "Measurement results: %d samples / %.2f ms", samples,
                      samples * 1000.0 / rate);
        return text;
    }

    std::vector<std::string> callsSince(std::size_t first) {
        const auto all = log->entries();
        return {all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())), all.end()};
    }

    platform::MemoryPlatform registry;
    platform::ScopedPlatform scoped{registry};
    std::shared_ptr<SimCallLog> log = std::make_shared<SimCallLog>();
    SimSettings settings;
    std::unique_ptr<CTarveloDlg> dlg;
};
