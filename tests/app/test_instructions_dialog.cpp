// The instructions dialog: its template, its text, its web button, and the two ways to open it.

#include "app/about_dlg.h"
#include "app_fixture.h"

#include <algorithm>
#include <cstring>

namespace {

// clang-format off
const std::vector<std::string> kExpectedLines = {
    "The Brintesk Tarvelo will measure the round-trip latency for your computer audio system. It works by ",
    "sending a short pulse through your audio interface and measuring the time it takes for the pulse to return. Keep in mind ",
    "that latency will depend on the actual hardware configuration and may change for different equipment.",
    "",
    "Measurement Instructions:",
    "1)  Experiment with the control panel of your ASIO driver to determine the lowest settings, at which ",
    "    you can still get clean sound on recording and playback (no audible clicks, pops or glitches).",
    "",
    "2)  On your audio interface, connect the analog input of your sound card to the analog output with a cable.",
    "    Turn down the speakers for this test, as the system will produce a short audio pulse.",
    "",
    "3)  Select the device driver you would like to test from the drop down menu and select the input and output ",
    "    channels you have physically connected together in Step 2.",
    "",
    "4)  If available, the device driver's control panel window will appear. Select the sample rate and buffer ",
    "    settings you determined in Step 1.",
    "",
    "5)  Click on the 'Measure!' button. The analog round-trip latency will be displayed at the bottom left of the window.",
    "",
    "6)  On some systems the measurement quality may be improved by adjusting the input sensivity parameter from",
    "    the pull-down menu.",
    "",
    "Thank you for using the Brintesk Tarvelo. If you have any questions, comments, or suggestions",
    "please email them to support@example.com.",
};
// clang-format on

std::vector<std::string> splitAtCrLf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    lines.push_back(text.substr(start));
    return lines;
}

const ControlTemplate* findControl(const DialogTemplate& tmpl, int id) {
    const auto it = std::find_if(tmpl.controls.begin(), tmpl.controls.end(),
                                 [id](const ControlTemplate& c) { return c.id == id; });
    return it == tmpl.controls.end() ? nullptr : &*it;
}

using InstructionsDialog = AppTest;

TEST_F(InstructionsDialog, TextIsTheTwentyFourLinesJoinedByCrLf) {
    const std::string text = kInstructionText;
    const std::vector<std::string> lines = splitAtCrLf(text);
    ASSERT_EQ(lines.size(), 24u);
    EXPECT_EQ(lines, kExpectedLines);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 23);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 23);
    EXPECT_NE(text.substr(text.size() - 2), "\r\n");
    EXPECT_TRUE(lines[23].ends_with(" support@example.com."));
    for (int line : {1, 2, 6, 12, 15}) {
        EXPECT_TRUE(lines[line - 1].ends_with(" ") && !lines[line - 1].ends_with("  ")) << line;
    }
    for (int line : {7, 10, 13, 16, 21}) {
        EXPECT_TRUE(lines[line - 1].starts_with("    ") && lines[line - 1][4] != ' ') << line;
    }
    for (char item = '1'; item <= '6'; ++item) {
        const std::string number = std::string(1, item) + ")  ";
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const std::string& l) {
                                    return l.starts_with(number) && l[number.size()] != ' ';
                                }),
                  1)
            << number;
    }
}

TEST_F(InstructionsDialog, TemplateHoldsItsControlsInTabOrder) {
    const DialogTemplate& t = kAboutDialogTemplate;
    EXPECT_EQ(t.resourceId, 100);
    EXPECT_STREQ(t.caption, "About Tarvelo");
    EXPECT_EQ(t.width, 412);
    EXPECT_EQ(t.height, 290);
    EXPECT_STREQ(t.fontName, "MS Shell Dlg");
    EXPECT_EQ(t.fontPointSize, 8);
    EXPECT_EQ(t.style & dlgstyle::kVisible, 0u);
    EXPECT_EQ(t.style, dlgstyle::kPopup | dlgstyle::kCaption | dlgstyle::kSysMenu |
                           dlgstyle::kModalFrame | dlgstyle::kSetFont);
    EXPECT_EQ(t.exStyle, 0u);
    ASSERT_EQ(t.controls.size(), 7u);

    std::vector<int> tabStops;
    for (const ControlTemplate& c : t.controls) {
        EXPECT_TRUE(startsVisible(c) && startsEnabled(c)) << c.caption;
        if (c.style & dlgstyle::kTabStop) {
            tabStops.push_back(c.id);
        }
    }
    EXPECT_EQ(tabStops, (std::vector<int>{1, 1015, 1016}));
    EXPECT_STREQ(t.controls[0].caption, "\nTarvelo\nVersion 3.7");
    EXPECT_EQ(std::count(t.controls[1].caption,
                         t.controls[1].caption + std::strlen(t.controls[1].caption), '\n'),
              2); // the legal notice's three lines
    EXPECT_STREQ(findControl(t, 1)->caption, "Close");
    EXPECT_EQ(findControl(t, 1)->style & dlgstyle::kDefPushButton, dlgstyle::kDefPushButton);
    EXPECT_EQ(std::string(findControl(t, 1015)->caption), std::string("Visit ") + kMakerWebAddress);
    const ControlTemplate& text = *findControl(t, 1016);
    EXPECT_EQ(text.kind, ControlKind::Edit);
    EXPECT_EQ(text.style & (dlgstyle::kEditMultiLine | dlgstyle::kEditReadOnly | dlgstyle::kBorder),
              dlgstyle::kEditMultiLine | dlgstyle::kEditReadOnly | dlgstyle::kBorder);
    // It wraps at word boundaries and never scrolls.
    EXPECT_EQ(text.style & (dlgstyle::kEditAutoHScroll | dlgstyle::kVScroll), 0u);
    EXPECT_EQ(t.controls[3].imageResource, IDB_LOGO);
}

TEST_F(InstructionsDialog, HelpButtonAndSystemMenuEntryOpenTheSameDialog) {
    createMainDialog();
    recordModalRuns();
    const std::string statusBefore = dlg->GetDlgItem(ctl::kStatus)->GetWindowText();

    ASSERT_TRUE(headless::Click(*dlg, ctl::kHelp));
    dlg->SendMessage(WM_SYSCOMMAND, ID_SYSMENU_ABOUT, 0);

    ASSERT_EQ(openings.size(), 2u);
    for (const ModalOpening& opening : openings) {
        EXPECT_EQ(opening.templateId, IDD_ABOUTBOX);
        EXPECT_EQ(opening.caption, "About Tarvelo");
        EXPECT_EQ(opening.owner, dlg.get()); // the application's main window owns it
        EXPECT_EQ(opening.instructionText, kInstructionText);
    }
    // Closing it returns to the main dialog as it was.
    EXPECT_FALSE(mainSurface().ended());
    EXPECT_EQ(dlg->GetDlgItem(ctl::kStatus)->GetWindowText(), statusBefore);
    EXPECT_TRUE(headless::ShellExecutions().empty());
}

TEST_F(InstructionsDialog, OpeningAgainShowsTheWholeTextAfresh) {
    createMainDialog();
    bool first = true;
    recordModalRuns([&](CDialog& about) {
        if (first) {
            about.GetDlgItem(ctl::kInstructionText)->SetWindowText("left over from the first run");
            first = false;
        }
    });
    ASSERT_TRUE(headless::Click(*dlg, ctl::kHelp));
    ASSERT_TRUE(headless::Click(*dlg, ctl::kHelp));
    ASSERT_EQ(openings.size(), 2u);
    EXPECT_EQ(openings[1].instructionText, kInstructionText);
}

TEST_F(InstructionsDialog, WebButtonAsksTheMainWindowToOpenThePageAndStaysOpen) {
    createMainDialog();
    bool openAfterClick = false;
    std::vector<headless::ShellExecuteRecord> requestsDuringClick;
    recordModalRuns([&](CDialog& about) {
        ASSERT_TRUE(headless::Click(about, ctl::kVisitWeb));
        // The send is synchronous: the request has been made by the time the click returns.
        requestsDuringClick = headless::ShellExecutions();
        openAfterClick = !headless::SurfaceOf(about)->ended();
    });
    ASSERT_TRUE(headless::Click(*dlg, ctl::kHelp));

    EXPECT_TRUE(openAfterClick);
    ASSERT_EQ(requestsDuringClick.size(), 1u);
    const headless::ShellExecuteRecord& request = requestsDuringClick[0];
    EXPECT_EQ(request.owner, nullptr);
    EXPECT_EQ(request.operation, "open");
    EXPECT_EQ(request.file, "https://www.example.com/tarvelo");
    EXPECT_EQ(request.parameters, "");
    EXPECT_EQ(request.directory, "");
    EXPECT_EQ(request.showCommand, SW_SHOWMINNOACTIVE);
    EXPECT_EQ(SW_SHOWMINNOACTIVE, 7);
    // It reached the main dialog as a click of its own 1015, with no control named.
    const auto& sent = mainSurface().sentMessages();
    const headless::WindowMessage forwarded = {WM_COMMAND, 1015, 0};
    EXPECT_NE(std::find(sent.begin(), sent.end(), forwarded), sent.end());
    EXPECT_EQ(headless::ShellExecutions().size(), 1u);
}

TEST_F(InstructionsDialog, CloseEndsTheRunWithIdOk) {
    headless::SetModalResponder([](CDialog& about) -> std::intptr_t {
        EXPECT_TRUE(headless::Click(about, ctl::kClose));
        return -5; // not the result: the dialog ended itself
    });
    CAboutDlg about;
    EXPECT_EQ(about.DoModal(), IDOK);
}

TEST_F(InstructionsDialog, WithoutAMainWindowTheWebButtonDoesNothing) {
    recordModalRuns([](CDialog& about) { EXPECT_TRUE(headless::Click(about, ctl::kVisitWeb)); });
    CAboutDlg about;
    about.DoModal();
    ASSERT_EQ(openings.size(), 1u);
    EXPECT_EQ(openings[0].owner, nullptr);
    EXPECT_TRUE(headless::ShellExecutions().empty());
}

} // namespace
