#pragma once
// The application shell on the headless surface: the main dialog made the way the program makes
// it (the application's main window, over an in-memory registry), and a record of every dialog
// that runs modally, each closed again with IDOK once it has been looked at.

#include "app/dialog_templates.h"
#include "app/resource_ids.h"
#include "app/tarvelo_app.h"
#include "app/tarvelo_dlg.h"
#include "catalog/scratch_folder.h"
#include "framework/headless/headless.h"
#include "platform/memory/memory_platform.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// One modal run as the user saw it open.
struct ModalOpening {
    int templateId;
    std::string caption;
    CDialog* owner;
    std::string instructionText; // control 1016's text, when the dialog's 1016 is an edit
};

class AppTest : public ::testing::Test {
protected:
    AppTest() { headless::ResetEnvironment(); }
    ~AppTest() override {
        theApp.m_pMainWnd = nullptr;
        headless::ResetEnvironment();
    }

    void createMainDialog() {
        dlg = std::make_unique<CTarveloDlg>();
        dlg->Create();
        theApp.m_pMainWnd = dlg.get();
    }

    headless::HeadlessDialog& mainSurface() { return *headless::SurfaceOf(*dlg); }

    // Records every modal run; `act` does what the user does in the dialog before it closes.
    void recordModalRuns(std::function<void(CDialog&)> act = {}) {
        headless::SetModalResponder([this, act](CDialog& dialog) -> std::intptr_t {
            headless::HeadlessDialog& surface = *headless::SurfaceOf(dialog);
            const headless::ControlState* text = surface.control(ctl::kInstructionText);
            openings.push_back(
                {dialog.Template().resourceId, dialog.Template().caption, surface.owner(),
                 text && text->source->kind == ControlKind::Edit ? text->text : std::string()});
            if (act) {
                act(dialog);
            }
            return IDOK;
        });
    }

    // A driver as an installer registers it, listed under `description`.
    void installDriver(const std::string& subkey, const std::string& description) {
        const std::string classId =
            "{5A17E0" + std::to_string(10 + m_installed++) + "-1234-5678-9ABC-DEF012345678}";
        registry.localMachine()
            .createKey("SOFTWARE\\ASIO\\" + subkey)
            .setValue("CLSID", classId)
            .setValue("Description", description);
        registry.classesRoot()
            .createKey("CLSID\\" + classId + "\\InprocServer32")
            .setValue("", m_serverFile);
    }

    platform::MemoryPlatform registry;
    platform::ScopedPlatform scoped{registry};
    std::unique_ptr<CTarveloDlg> dlg;
    std::vector<ModalOpening> openings;

private:
    ScratchFolder m_scratch;
    std::string m_serverFile = m_scratch.makeFile("driver.dll");
    int m_installed = 0;
};
