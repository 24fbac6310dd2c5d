// The main dialog's window side and the instructions dialog on the headless surface, made the way
// the program makes them: the system menu, the minimised window's icon, the system commands,
// the web page, and the application's entry.

#include "app/about_dlg.h"
#include "app/dialog_templates.h"
#include "app/resource_ids.h"
#include "app/tarvelo_app.h"
#include "app/tarvelo_dlg.h"
#include "framework/headless/headless.h"
#include "platform/memory/memory_platform.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class WindowSide : public ::testing::Test {
protected:
    WindowSide() { headless::ResetEnvironment(); }
    ~WindowSide() override { theApp.m_pMainWnd = nullptr; }

    void createMainDialog() {
        dlg = std::make_unique<CTarveloDlg>();
        dlg->Create();
        theApp.m_pMainWnd = dlg.get();
    }
    headless::HeadlessDialog& surface() { return *headless::SurfaceOf(*dlg); }
    // Records the template, owner and instruction text of every modal run; `act` is what the
    // user does in the dialog before it is closed with OK.
    void recordModalRuns(std::function<void(CDialog&)> act = {}) {
        headless::SetModalResponder([this, act](CDialog& dialog) -> std::intptr_t {
            const auto* text = headless::SurfaceOf(dialog)->control(ctl::kInstructionText);
            runs.push_back({dialog.Template().resourceId, headless::SurfaceOf(dialog)->owner(),
                            text ? text->text : ""});
            if (act) {
                act(dialog);
            }
            return IDOK;
        });
    }

    struct ModalRun {
        int templateId;
        CDialog* owner;
        std::string instructionText;
    };
    platform::MemoryPlatform registry;
    platform::ScopedPlatform scoped{registry};
    std::unique_ptr<CTarveloDlg> dlg;
    std::vector<ModalRun> runs;
};

TEST_F(WindowSide, TheSystemMenuGetsTheEntryOfString101WhenThereIsOne) {
    for (const char* entry : {static_cast<const char*>(nullptr), "", "&About Tarvelo..."}) {
        headless::ResetEnvironment();
        if (entry) {
            headless::SetStringResource(IDS_ABOUTBOX, entry);
        }
        createMainDialog();
        const std::vector<headless::MenuItem> expected =
            entry && *entry ? std::vector<headless::MenuItem>{{MF_SEPARATOR, 0, ""},
                                                              {MF_STRING, ID_SYSMENU_ABOUT, entry}}
                            : std::vector<headless::MenuItem>{};
        EXPECT_EQ(surface().systemMenu(), expected);
        EXPECT_EQ(dlg->m_session.measurement().sensitivity(), 2)
            << "the rest of the set-up goes on";
    }
}

TEST_F(WindowSide, TheMinimisedWindowDrawsItsIconCentredRoundingTowardZero) {
    struct Case {
        int clientWidth, clientHeight, iconWidth, iconHeight, x, y;
    };
    for (const Case c :
         {Case{36, 36, 32, 32, 2, 2}, Case{0, 36, 32, 32, -15, 2}, Case{37, 35, 32, 32, 3, 2},
          Case{1, 2, 32, 32, -15, -14}, Case{100, 64, 48, 16, 26, 24}}) {
        SCOPED_TRACE(::testing::Message() << c.clientWidth << " x " << c.clientHeight);
        headless::ResetEnvironment();
        headless::SetSystemMetric(SM_CXICON, c.iconWidth);
        headless::SetSystemMetric(SM_CYICON, c.iconHeight);
        createMainDialog();
        surface().setIconic(true);
        surface().setClientSize(c.clientWidth, c.clientHeight);
        const std::size_t sent = surface().sentMessages().size();
        dlg->SendMessage(WM_PAINT, 0, 0);
        ASSERT_EQ(surface().drawnIcons().size(), 1u);
        const headless::DrawnIcon& drawn = surface().drawnIcons()[0];
        EXPECT_EQ(drawn.x, c.x);
        EXPECT_EQ(drawn.y, c.y);
        EXPECT_EQ(drawn.icon, dlg->m_hIcon);
        // The background is erased through the same paint context, which is closed again.
        ASSERT_EQ(surface().sentMessages().size(), sent + 2);
        EXPECT_EQ(
            surface().sentMessages().back(),
            (headless::WindowMessage{WM_ICONERASEBKGND, reinterpret_cast<WParam>(drawn.dc), 0}));
        EXPECT_FALSE(surface().painting());
    }
    surface().setIconic(false);
    dlg->SendMessage(WM_PAINT, 0, 0);
    EXPECT_EQ(surface().drawnIcons().size(), 1u);
    EXPECT_EQ(surface().defaultProcessed().back().message, static_cast<unsigned>(WM_PAINT));
}

TEST_F(WindowSide, SystemCommands0x10To0x1FOpenTheInstructionsAndOthersGoOn) {
    createMainDialog();
    recordModalRuns();
    const LParam position = 0x00120034;
    for (const unsigned command : {0x0000u, 0x000Fu, 0x0010u, 0x0017u, 0x001Fu, 0x0020u, 0x0110u,
                                   unsigned{SC_MOVE}, unsigned{SC_CLOSE}}) {
        SCOPED_TRACE(command);
        const std::size_t opened = runs.size();
        const std::size_t passedOn = surface().defaultProcessed().size();
        dlg->SendMessage(WM_SYSCOMMAND, command, position);
        if ((command & 0xFFF0u) == 0x10) {
            ASSERT_EQ(runs.size(), opened + 1);
            EXPECT_EQ(runs.back().templateId, IDD_ABOUTBOX);
            EXPECT_EQ(runs.back().owner, dlg.get());
            EXPECT_EQ(runs.back().instructionText, kInstructionText);
            EXPECT_EQ(surface().defaultProcessed().size(), passedOn);
        } else {
            EXPECT_EQ(runs.size(), opened);
            ASSERT_EQ(surface().defaultProcessed().size(), passedOn + 1);
            EXPECT_EQ(surface().defaultProcessed().back(),
                      (headless::WindowMessage{WM_SYSCOMMAND, command, position}));
        }
    }
}

TEST_F(WindowSide, HelpShowsTheWholeTextEachTimeAndItsWebButtonAsksTheMainWindow) {
    createMainDialog();
    std::vector<headless::ShellExecuteRecord> requestsDuringClick;
    recordModalRuns([&](CDialog& about) {
        about.GetDlgItem(ctl::kInstructionText)->SetWindowText("left over");
        ASSERT_TRUE(headless::Click(about, ctl::kVisitWeb));
        requestsDuringClick = headless::ShellExecutions();
        EXPECT_FALSE(headless::SurfaceOf(about)->ended());
    });
    ASSERT_TRUE(headless::Click(*dlg, ctl::kHelp));
    ASSERT_TRUE(headless::Click(*dlg, ctl::kHelp));
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].instructionText, kInstructionText);
    EXPECT_EQ(runs[1].owner, dlg.get());
    ASSERT_EQ(requestsDuringClick.size(), 2u);
    const headless::ShellExecuteRecord& request = requestsDuringClick[1];
    EXPECT_EQ(request.owner, nullptr);
    EXPECT_EQ(request.operation, "open");
    EXPECT_EQ(request.file, kMakerWebAddress);
    EXPECT_EQ(request.parameters + request.directory, "");
    EXPECT_EQ(request.showCommand, SW_SHOWMINNOACTIVE);

    theApp.m_pMainWnd = nullptr; // the instructions on their own: the web button does nothing
    CAboutDlg about;
    EXPECT_EQ(about.DoModal(), IDOK);
    EXPECT_EQ(headless::ShellExecutions().size(), 2u);
}

TEST_F(WindowSide, TheEntryRunsTheMainDialogModallyAsTheMainWindowListingTheDrivers) {
    const std::pair<const char*, std::string> installed[] = {
        {"{5A17E010-1234-5678-9ABC-DEF012345678}", std::string(63, 'a')},
        {"{5A17E011-1234-5678-9ABC-DEF012345678}", std::string(60, 'b') + "cdef"}};
    for (const auto& [classId, description] : installed) {
        registry.localMachine()
            .createKey("SOFTWARE\\ASIO\\" + description)
            .setValue("CLSID", classId)
            .setValue("Description", description);
        registry.classesRoot()
            .createKey(std::string("CLSID\\") + classId + "\\InprocServer32")
            .setValue("", "/proc/self/exe");
    }
    std::vector<std::string> drivers;
    bool isMainWindow = false;
    headless::SetModalResponder([&](CDialog& dialog) -> std::intptr_t {
        isMainWindow = AfxGetMainWnd() == &dialog && dynamic_cast<CTarveloDlg*>(&dialog);
        for (const auto& item : headless::SurfaceOf(dialog)->control(ctl::kDriverList)->items) {
            drivers.push_back(item.text);
        }
        return IDCANCEL;
    });
    EXPECT_EQ(AfxWinMain(), 0);
    EXPECT_TRUE(isMainWindow);
    EXPECT_EQ(drivers, (std::vector<std::string>{std::string(63, 'a'), std::string(60, 'b') + "...",
                                                 "--- Select Driver ---"}));
    EXPECT_EQ(AfxGetMainWnd(), nullptr);
}

} // namespace
