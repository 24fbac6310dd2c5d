// The main dialog's window side: the system-menu entry, the window icon, painting the minimised
// window, the drag icon, the system commands, and the driver list's names.

#include "app_fixture.h"

#include <algorithm>

namespace {

using headless::MenuItem;
using headless::WindowMessage;

bool wasSent(const headless::HeadlessDialog& surface, const WindowMessage& expected) {
    const auto& sent = surface.sentMessages();
    return std::find(sent.begin(), sent.end(), expected) != sent.end();
}

using MainWindow = AppTest;

TEST_F(MainWindow, SystemMenuGetsASeparatorAndTheEntryFromString101) {
    headless::SetStringResource(IDS_ABOUTBOX, "&About Tarvelo...");
    createMainDialog();
    const std::vector<MenuItem> expected = {{MF_SEPARATOR, 0, ""},
                                            {MF_STRING, 16, "&About Tarvelo..."}};
    EXPECT_EQ(mainSurface().systemMenu(), expected);
}

TEST_F(MainWindow, EmptyOrMissingString101AddsNeitherSeparatorNorEntry) {
    for (const bool present : {false, true}) {
        SCOPED_TRACE(present ? "empty string" : "no string");
        headless::ResetEnvironment();
        if (present) {
            headless::SetStringResource(IDS_ABOUTBOX, "");
        }
        createMainDialog();
        EXPECT_TRUE(mainSurface().systemMenu().empty());
        // The rest of the initialisation goes on.
        EXPECT_EQ(dlg->GetDlgItem(ctl::kStatus)->GetWindowText(), "Please select ASIO driver");
        EXPECT_EQ(dlg->m_measurement.sensitivity(), 2);
    }
}

TEST_F(MainWindow, WindowWithoutSystemMenuStyleHasNoSystemMenu) {
    const DialogTemplate plain = {
        1, "Plain", 50, 20, "MS Shell Dlg", 8, dlgstyle::kPopup | dlgstyle::kCaption, 0, {}};
    CDialog dialog(plain);
    dialog.Create();
    EXPECT_EQ(dialog.GetSystemMenu(), nullptr);
}

TEST_F(MainWindow, TheIconIsTheBigWindowIconOnly) {
    createMainDialog();
    ASSERT_NE(dlg->m_hIcon, nullptr);
    EXPECT_EQ(dlg->m_hIcon, LoadAppIcon(IDR_MAINFRAME));
    EXPECT_TRUE(
        wasSent(mainSurface(), {WM_SETICON, ICON_BIG, reinterpret_cast<LParam>(dlg->m_hIcon)}));
    const auto& sent = mainSurface().sentMessages();
    EXPECT_EQ(std::count_if(sent.begin(), sent.end(),
                            [](const WindowMessage& m) { return m.message == WM_SETICON; }),
              1);
    EXPECT_EQ(reinterpret_cast<void*>(dlg->SendMessage(WM_QUERYDRAGICON, 0, 0)), dlg->m_hIcon);
}

TEST_F(MainWindow, MinimisedWindowErasesAndDrawsTheIconCentred) {
    createMainDialog();
    mainSurface().setIconic(true);
    mainSurface().setClientSize(36, 36);
    const std::size_t sentBefore = mainSurface().sentMessages().size();
    dlg->SendMessage(WM_PAINT, 0, 0);

    ASSERT_EQ(mainSurface().drawnIcons().size(), 1u);
    const headless::DrawnIcon& drawn = mainSurface().drawnIcons()[0];
    EXPECT_EQ(drawn.x, 2);
    EXPECT_EQ(drawn.y, 2);
    EXPECT_EQ(drawn.icon, dlg->m_hIcon);
    ASSERT_NE(drawn.dc, nullptr);
    // The background is erased through the same paint context, and the context is closed.
    const auto& sent = mainSurface().sentMessages();
    ASSERT_EQ(sent.size(), sentBefore + 2);
    EXPECT_EQ(sent[sentBefore + 1].message, static_cast<unsigned>(WM_ICONERASEBKGND));
    EXPECT_EQ(sent[sentBefore + 1].wParam, reinterpret_cast<WParam>(drawn.dc));
    EXPECT_EQ(sent[sentBefore + 1].lParam, 0);
    EXPECT_FALSE(mainSurface().painting());
    EXPECT_TRUE(mainSurface().defaultProcessed().empty());
}

TEST_F(MainWindow, IconPositionTruncatesTowardZero) {
    struct Case {
        int clientWidth, clientHeight, iconWidth, iconHeight, x, y;
    };
    const Case cases[] = {
        {36, 36, 32, 32, 2, 2},   {0, 36, 32, 32, -15, 2},  {37, 35, 32, 32, 3, 2},
        {0, 0, 32, 32, -15, -15}, {1, 2, 32, 32, -15, -14}, {100, 64, 48, 16, 26, 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "client " << c.clientWidth << " x " << c.clientHeight
                                          << ", icon " << c.iconWidth << " x " << c.iconHeight);
        headless::ResetEnvironment();
        headless::SetSystemMetric(SM_CXICON, c.iconWidth);
        headless::SetSystemMetric(SM_CYICON, c.iconHeight);
        createMainDialog();
        mainSurface().setIconic(true);
        mainSurface().setClientSize(c.clientWidth, c.clientHeight);
        dlg->SendMessage(WM_PAINT, 0, 0);
        ASSERT_EQ(mainSurface().drawnIcons().size(), 1u);
        EXPECT_EQ(mainSurface().drawnIcons()[0].x, c.x);
        EXPECT_EQ(mainSurface().drawnIcons()[0].y, c.y);
    }
}

TEST_F(MainWindow, RestoredWindowPaintsByDefault) {
    createMainDialog();
    dlg->SendMessage(WM_PAINT, 0, 0);
    EXPECT_TRUE(mainSurface().drawnIcons().empty());
    ASSERT_EQ(mainSurface().defaultProcessed().size(), 1u);
    EXPECT_EQ(mainSurface().defaultProcessed()[0].message, static_cast<unsigned>(WM_PAINT));
    EXPECT_FALSE(wasSent(mainSurface(), {WM_ICONERASEBKGND, 0, 0}));
}

TEST_F(MainWindow, SystemCommands0x10To0x1FOpenTheInstructions) {
    createMainDialog();
    recordModalRuns();
    for (unsigned command = 0x10; command <= 0x1F; ++command) {
        dlg->SendMessage(WM_SYSCOMMAND, command, 0);
        ASSERT_EQ(openings.size(), command - 0x10 + 1) << "command " << command;
        EXPECT_EQ(openings.back().templateId, IDD_ABOUTBOX);
    }
    EXPECT_TRUE(mainSurface().defaultProcessed().empty());
}

TEST_F(MainWindow, OtherSystemCommandsGetTheDefaultProcessing) {
    createMainDialog();
    recordModalRuns();
    const unsigned commands[] = {0x0000, 0x000F, 0x0020, 0x0110, SC_MOVE, SC_CLOSE};
    const LParam position = 0x00120034;
    for (unsigned command : commands) {
        dlg->SendMessage(WM_SYSCOMMAND, command, position);
    }
    EXPECT_TRUE(openings.empty());
    const auto& passedOn = mainSurface().defaultProcessed();
    ASSERT_EQ(passedOn.size(), std::size(commands));
    for (std::size_t i = 0; i < passedOn.size(); ++i) {
        EXPECT_EQ(passedOn[i].message, static_cast<unsigned>(WM_SYSCOMMAND));
        EXPECT_EQ(passedOn[i].wParam, commands[i]);
        EXPECT_EQ(passedOn[i].lParam, position);
    }
}

TEST_F(MainWindow, DriverNamesOf63CharactersStayAnd64AreShortened) {
    const std::string name63(63, 'x');
    const std::string name64 = std::string(60, 'y') + "abcd";
    installDriver("first", name63);
    installDriver("second", name64);
    createMainDialog();
    const headless::ControlState& list = *mainSurface().control(ctl::kDriverList);
    ASSERT_EQ(list.items.size(), 3u);
    EXPECT_EQ(list.items[0].text, name63);
    EXPECT_EQ(list.items[1].text, std::string(60, 'y') + "...");
    EXPECT_EQ(list.items[1].text.size(), 63u);
    EXPECT_EQ(list.items[2].text, "--- Select Driver ---");
    EXPECT_EQ(list.selection, 2);
}

TEST_F(MainWindow, HelpCommandGoesOnToTheApplication) {
    createMainDialog();
    EXPECT_NE(dlg->SendMessage(WM_COMMAND, ID_HELP, 0), 0);
    EXPECT_EQ(dlg->SendMessage(WM_COMMAND, ID_HELP + 1, 0), 0);
}

} // namespace
