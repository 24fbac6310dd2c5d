// The Win32 backend seen through Windows' own API: a real #32770 window built from the template
// data, with real controls under the template's ids, the program's resources, and a post from
// another thread. Runs under Wine with a display (the Windows test session).

#include "framework/win32/windows_api.h"

#include "app/dialog_templates.h"
#include "app/resource_ids.h"
#include "app/tarvelo_dlg.h"
#include "platform/memory/memory_platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

std::string classOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// Read as another program would: WM_GETTEXT rather than GetWindowText.
std::string textOf(HWND window) {
    char text[256] = {};
    SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

class Win32Backend : public ::testing::Test {
protected:
    platform::MemoryPlatform registry; // no drivers installed
    platform::ScopedPlatform scoped{registry};
    CWinApp app;
};

TEST_F(Win32Backend, TheMainDialogIsARealDialogOfTheTemplateWithTheProgramsResources) {
    CTarveloDlg dlg;
    dlg.Create();
    const auto hwnd = static_cast<HWND>(dlg.GetSafeHwnd());
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(classOf(hwnd), "#32770");
    EXPECT_EQ(textOf(hwnd), kMainDialogTemplate.caption);
    EXPECT_EQ(GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW, WS_EX_APPWINDOW);
    const char* const classes[] = {"Button", "ComboBox", "Edit", "Static"}; // by ControlKind
    for (const ControlTemplate& c : kMainDialogTemplate.controls) {
        if (c.id != kNoControlId) {
            SCOPED_TRACE(c.id);
            HWND control = GetDlgItem(hwnd, c.id);
            ASSERT_NE(control, nullptr);
            EXPECT_EQ(classOf(control), classes[static_cast<int>(c.kind)]);
            EXPECT_EQ(IsWindowVisible(control) != FALSE, startsVisible(c));
            EXPECT_EQ(IsWindowEnabled(control) != FALSE, startsEnabled(c));
            EXPECT_TRUE(c.kind != ControlKind::Button || textOf(control) == c.caption);
        }
    }
    // String 101 in the system menu after a separator, icon 128 as the window's.
    HMENU menu = GetSystemMenu(hwnd, FALSE);
    const int last = GetMenuItemCount(menu) - 1;
    char entry[64] = {};
    GetMenuStringA(menu, static_cast<UINT>(last), entry, sizeof entry, MF_BYPOSITION);
    EXPECT_STREQ(entry, "&About Tarvelo...");
    EXPECT_EQ(GetMenuItemID(menu, last), ID_SYSMENU_ABOUT);
    EXPECT_NE(GetMenuState(menu, static_cast<UINT>(last - 1), MF_BYPOSITION) & MF_SEPARATOR, 0u);
    ASSERT_NE(dlg.m_hIcon, nullptr);
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(hwnd, WM_GETICON, ICON_BIG, 0)), dlg.m_hIcon);
    // The framework's operations act on those same controls.
    dlg.GetDlgItem(ctl::kStatus)->SetWindowText("line one\r\nline two");
    EXPECT_EQ(textOf(GetDlgItem(hwnd, ctl::kStatus)), "line one\r\nline two");
    dlg.GetDlgItem(ctl::kMeasure)->EnableWindow(true);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwnd, ctl::kMeasure)));
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

TEST_F(Win32Backend, APostFromAnotherThreadRunsOnTheDialogsThreadAndNotOnceItIsGone) {
    Finisher dialog;
    dialog.Create();
    std::atomic<bool> posted{false};
    std::thread([&] {
        posted = dialog.PostMessage(WM_COMMAND, makeCommandWParam(ctl::kMeasure, BN_CLICKED), 0);
    }).join();
    EXPECT_TRUE(posted);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (dialog.GetSafeHwnd() != nullptr && std::chrono::steady_clock::now() < end) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
    EXPECT_EQ(dialog.handledOn, GetCurrentThreadId());
    EXPECT_FALSE(dialog.PostMessage(WM_COMMAND, ctl::kMeasure, 0));
}

} // namespace
