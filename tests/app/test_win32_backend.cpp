// The Win32 backend seen through Windows' own API: real #32770 windows built from the template
// data, with real controls under the template's ids, the program's resources, posting from
// another thread, and a modal run that another thread reads and closes as a user's hands would.
// Runs under Wine with a display (the Windows test session).

#include "framework/win32/windows_api.h"

#include "app/about_dlg.h"
#include "app/dialog_templates.h"
#include "app/resource_ids.h"
#include "app/tarvelo_dlg.h"
#include "platform/memory/memory_platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

std::string classOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// Read as another program would: WM_GETTEXT rather than GetWindowText.
std::string textOf(HWND window) {
    char text[4096] = {};
    SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

std::string listItem(HWND list, int index) {
    char text[256] = {};
    SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    return text;
}

const char* className(ControlKind kind) {
    switch (kind) {
    case ControlKind::Button:
        return "Button";
    case ControlKind::Edit:
        return "Edit";
    case ControlKind::Static:
        return "Static";
    case ControlKind::ComboBox:
        return "ComboBox";
    }
    return "";
}

// Dispatches this thread's messages until `done` holds or `timeout` passes.
bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

class Win32Backend : public ::testing::Test {
protected:
    platform::MemoryPlatform registry; // no drivers installed
    platform::ScopedPlatform scoped{registry};
    CWinApp app;
};

TEST_F(Win32Backend, MainDialogIsARealDialogWithTheTemplatesControls) {
    CTarveloDlg dlg;
    dlg.Create();
    const auto hwnd = static_cast<HWND>(dlg.GetSafeHwnd());
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(classOf(hwnd), "#32770");
    EXPECT_EQ(textOf(hwnd), "Tarvelo");
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_EQ(GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW, WS_EX_APPWINDOW);

    for (const ControlTemplate& c : kMainDialogTemplate.controls) {
        if (c.id == kNoControlId) {
            continue;
        }
        SCOPED_TRACE(c.id);
        HWND control = GetDlgItem(hwnd, c.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(classOf(control), className(c.kind));
        EXPECT_EQ(IsWindowVisible(control) != FALSE, startsVisible(c));
        EXPECT_EQ(IsWindowEnabled(control) != FALSE, startsEnabled(c));
        if (c.kind == ControlKind::Button) {
            EXPECT_EQ(textOf(control), c.caption);
        }
    }

    HWND drivers = GetDlgItem(hwnd, ctl::kDriverList);
    EXPECT_EQ(SendMessageA(drivers, CB_GETCOUNT, 0, 0), 1);
    EXPECT_EQ(SendMessageA(drivers, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(listItem(drivers, 0), "--- Select Driver ---");
    HWND levels = GetDlgItem(hwnd, ctl::kSensitivityList);
    EXPECT_EQ(SendMessageA(levels, CB_GETCOUNT, 0, 0), 4);
    EXPECT_EQ(listItem(levels, SendMessageA(levels, CB_GETCURSEL, 0, 0)), "-12 dB");
    EXPECT_EQ(textOf(GetDlgItem(hwnd, ctl::kStatus)), "Please select ASIO driver");

    // The resources are this program's: string 101 in the system menu, icon 128 as the window's.
    HMENU menu = GetSystemMenu(hwnd, FALSE);
    ASSERT_NE(menu, nullptr);
    const int last = GetMenuItemCount(menu) - 1;
    char entry[64] = {};
    GetMenuStringA(menu, static_cast<UINT>(last), entry, sizeof entry, MF_BYPOSITION);
    EXPECT_STREQ(entry, "&About Tarvelo...");
    EXPECT_EQ(GetMenuItemID(menu, last), ID_SYSMENU_ABOUT);
    EXPECT_EQ(GetMenuState(menu, static_cast<UINT>(last - 1), MF_BYPOSITION) & MF_SEPARATOR,
              static_cast<UINT>(MF_SEPARATOR));
    ASSERT_NE(dlg.m_hIcon, nullptr);
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(hwnd, WM_GETICON, ICON_BIG, 0)), dlg.m_hIcon);
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(hwnd, WM_QUERYDRAGICON, 0, 0)), dlg.m_hIcon);

    // The framework's operations act on those same controls.
    CWnd* status = dlg.GetDlgItem(ctl::kStatus);
    ASSERT_NE(status, nullptr);
    status->SetWindowText("line one\r\nline two");
    EXPECT_EQ(textOf(GetDlgItem(hwnd, ctl::kStatus)), "line one\r\nline two");
    EXPECT_EQ(status->GetWindowText(), "line one\r\nline two");
    dlg.GetDlgItem(ctl::kMeasure)->EnableWindow(true);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwnd, ctl::kMeasure)));
    EXPECT_EQ(dlg.GetDlgItem(9999), nullptr);
}

class Finisher : public CDialog {
public:
    Finisher()
        : CDialog(kMainDialogTemplate) {}
    DWORD handledOn = 0;

protected:
    std::span<const MessageMapEntry> GetMessageMap() const override {
        static const MessageMapEntry kMap[] = {MapBnClicked(ctl::kMeasure, &Finisher::OnMeasure)};
        return kMap;
    }

private:
    void OnMeasure() {
        handledOn = GetCurrentThreadId();
        EndDialog(IDOK);
    }
};

TEST_F(Win32Backend, APostFromAnotherThreadRunsOnTheDialogsThread) {
    Finisher dialog;
    dialog.Create();
    ASSERT_NE(dialog.GetSafeHwnd(), nullptr);
    std::atomic<bool> posted{false};
    std::thread poster([&] {
        posted = dialog.PostMessage(WM_COMMAND, makeCommandWParam(ctl::kMeasure, BN_CLICKED), 0);
    });
    poster.join();
    EXPECT_TRUE(posted);
    ASSERT_TRUE(pumpUntil([&] { return dialog.GetSafeHwnd() == nullptr; }, 10s));
    EXPECT_EQ(dialog.handledOn, GetCurrentThreadId());
    // The window is gone: a later post fails instead of reaching a stale handle.
    EXPECT_FALSE(dialog.PostMessage(WM_COMMAND, ctl::kMeasure, 0));
}

TEST_F(Win32Backend, InstructionsDialogRunsModallyOwnedByTheMainWindow) {
    CTarveloDlg main;
    main.Create();
    app.m_pMainWnd = &main;
    const auto mainWindow = static_cast<HWND>(main.GetSafeHwnd());

    std::string text;
    std::string visitCaption;
    HWND owner = nullptr;
    bool mainEnabledWhileOpen = true;
    std::thread hands([&] {
        HWND about = nullptr;
        for (int i = 0; i < 500 && !(about && IsWindowVisible(about) &&
                                     GetDlgItem(about, ctl::kInstructionText));
             ++i) {
            std::this_thread::sleep_for(20ms);
            about = FindWindowA("#32770", "About Tarvelo");
        }
        if (!about) {
            return;
        }
        text = textOf(GetDlgItem(about, ctl::kInstructionText));
        visitCaption = textOf(GetDlgItem(about, ctl::kVisitWeb));
        owner = GetWindow(about, GW_OWNER);
        mainEnabledWhileOpen = IsWindowEnabled(mainWindow) != FALSE;
        PostMessageA(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    CAboutDlg about;
    const std::intptr_t result = about.DoModal();
    hands.join();
    app.m_pMainWnd = nullptr;

    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(text, kInstructionText);
    EXPECT_EQ(visitCaption, std::string("Visit ") + kMakerWebAddress);
    EXPECT_EQ(owner, mainWindow);
    EXPECT_FALSE(mainEnabledWhileOpen);
    EXPECT_TRUE(IsWindowEnabled(mainWindow));
}

} // namespace
