// The application object and the framework's entry: the main dialog runs modally as the main
// window, and the program ends when it closes.

#include "app_fixture.h"

namespace {

using Application = AppTest;

TEST_F(Application, EntryRunsTheMainDialogModallyAsTheMainWindow) {
    installDriver("only", "The One Driver");
    struct Seen {
        bool mainDialog = false;
        bool isMainWindow = false;
        CDialog* owner = nullptr;
        std::vector<std::string> drivers;
        std::string status;
    };
    std::vector<Seen> runs;
    headless::SetModalResponder([&](CDialog& dialog) -> std::intptr_t {
        headless::HeadlessDialog& surface = *headless::SurfaceOf(dialog);
        Seen seen;
        seen.mainDialog = dynamic_cast<CTarveloDlg*>(&dialog) != nullptr;
        seen.isMainWindow = AfxGetMainWnd() == &dialog;
        seen.owner = surface.owner();
        for (const auto& item : surface.control(ctl::kDriverList)->items) {
            seen.drivers.push_back(item.text);
        }
        seen.status = surface.control(ctl::kStatus)->text;
        runs.push_back(seen);
        return IDCANCEL;
    });

    EXPECT_EQ(AfxGetApp(), &theApp);
    EXPECT_EQ(AfxWinMain(), 0);

    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].mainDialog);
    EXPECT_TRUE(runs[0].isMainWindow);
    EXPECT_EQ(runs[0].owner, nullptr);
    EXPECT_EQ(runs[0].drivers,
              (std::vector<std::string>{"The One Driver", "--- Select Driver ---"}));
    EXPECT_EQ(runs[0].status, "Please select ASIO driver");
    // The dialog is gone and no longer the main window.
    EXPECT_EQ(AfxGetMainWnd(), nullptr);
}

TEST_F(Application, InstructionsOpenedFromTheRunningProgramBelongToTheMainDialog) {
    std::vector<std::pair<int, CDialog*>> runs; // template, owner
    CDialog* mainDialog = nullptr;
    headless::SetModalResponder([&](CDialog& dialog) -> std::intptr_t {
        runs.emplace_back(dialog.Template().resourceId, headless::SurfaceOf(dialog)->owner());
        if (dialog.Template().resourceId == IDD_TARVELO_DIALOG) {
            mainDialog = &dialog;
            EXPECT_TRUE(headless::Click(dialog, ctl::kHelp));
        }
        return IDOK;
    });
    EXPECT_FALSE(theApp.InitInstance());
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0], std::make_pair(IDD_TARVELO_DIALOG, static_cast<CDialog*>(nullptr)));
    EXPECT_EQ(runs[1], std::make_pair(IDD_ABOUTBOX, mainDialog));
}

} // namespace
