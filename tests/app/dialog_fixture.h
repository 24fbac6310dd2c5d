#pragma once
// The main dialog on the headless surface with the loopback simulator as its only driver,
// switching buffers on a thread of its own; driven by clicks and read back as a user sees it.

#include "app/resource_ids.h"
#include "app/tarvelo_dlg.h"
#include "framework/headless/headless.h"
#include "session/host_callbacks.h"
#include "support/sim_driver_test.h"

#include <chrono>

inline Texts messageBoxTexts() {
    Texts texts;
    for (const headless::MessageBoxRecord& box : headless::MessageBoxes()) {
        texts.push_back(box.text);
    }
    return texts;
}

class SimDialogTest : public SimDriverTest {
protected:
    SimDialogTest() { headless::ResetEnvironment(); }

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

    std::unique_ptr<CTarveloDlg> dlg;
};
