#pragma once
// The main dialog on the headless surface with the loopback simulator as its only driver,
// switching buffers on a thread of its own; driven by clicks and read back as a user sees it.

#include "app/resource_ids.h"
#include "app/tarvelo_dlg.h"
#include "drivers/sim/install_memory.h"
#include "framework/headless/headless.h"
#include "platform/memory/memory_platform.h"
#include "session/host_callbacks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

using Texts = std::vector<std::string>;

inline Texts messageBoxTexts() {
    Texts texts;
    for (const headless::MessageBoxRecord& box : headless::MessageBoxes()) {
        texts.push_back(box.text);
    }
    return texts;
}

class SimDialogTest : public ::testing::Test {
protected:
    SimDialogTest() {
        headless::ResetEnvironment();
        settings.pacing = SimPacing::Freewheel;
        settings.callLog = log;
        installLoopbackSimulator(
            registry, [this] { return settings; }, "/proc/self/exe");
    }

    // The text form of the simulator's settings, over the ones in force.
    void simulate(std::string_view text) {
        std::string error;
        ASSERT_TRUE(parseSimSettings(text, settings, &error)) << error;
    }
    void createDialog() {
        dlg = std::make_unique<CTarveloDlg>();
        dlg->Create();
    }
    // Makes the dialog (scanning the registry) and picks the simulator, as a user would.
    void openDriver() {
        createDialog();
        ASSERT_TRUE(headless::Select(*dlg, ctl::kDriverList, 0));
    }

    headless::HeadlessDialog& surface() { return *headless::SurfaceOf(*dlg); }
    std::string text(int id) { return dlg->GetDlgItem(id)->GetWindowText(); }
    bool enabled(int id) { return dlg->GetDlgItem(id)->IsWindowEnabled(); }
    Texts items(int id) {
        Texts texts;
        for (const headless::ListItem& item : surface().control(id)->items) {
            texts.push_back(item.text);
        }
        return texts;
    }
    Texts callsSince(std::size_t first) {
        const Texts all = log->entries();
        return {all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())), all.end()};
    }

    // Presses Measure! and runs the modal loop until the chain has ended; the status it left.
    std::string measure() {
        EXPECT_TRUE(headless::Click(*dlg, ctl::kMeasure));
        EXPECT_TRUE(surface().pumpUntil(
            [&] {
                return dlg->m_autoMeasure == 0 || dlg->m_session.state() != SessionState::Armed;
            },
            std::chrono::seconds(20)));
        return text(ctl::kStatus);
    }

    platform::MemoryPlatform registry;
    platform::ScopedPlatform scoped{registry};
    std::shared_ptr<SimCallLog> log = std::make_shared<SimCallLog>();
    SimSettings settings;
    std::unique_ptr<CTarveloDlg> dlg;
};
