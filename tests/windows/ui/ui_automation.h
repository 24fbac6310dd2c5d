#pragma once
// Drives the windows of another process the way a user's clicks and picks reach them, and reads
// their state back across the process boundary. Every message sent to the other process has a
// time limit, and every wait polls a condition up to a limit, so a program that hangs fails a
// test instead of blocking it.

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ui {

using namespace std::chrono_literals;

// How long a test waits for anything the program under test should do.
inline constexpr std::chrono::milliseconds kWaitLimit = 20s;

// Polls `condition` until it holds or `limit` has passed; whether it held.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = kWaitLimit);

// A program started for a test, in a job that ends it when this object goes or when this
// process ends, so that a failed test leaves nothing behind.
class Program {
public:
    explicit Program(const std::string& path);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return m_process.hProcess != nullptr; }
    DWORD id() const { return m_process.dwProcessId; }
    HANDLE handle() const { return m_process.hProcess; }
    // Its exit code once it has ended, waiting at most `limit`; none while it still runs.
    std::optional<DWORD> waitForExit(std::chrono::milliseconds limit);

private:
    HANDLE m_job = nullptr;
    PROCESS_INFORMATION m_process{};
};

// The first visible dialog (class #32770) of the process with caption `caption` for which
// `accept` holds, or null.
HWND findDialog(
    DWORD processId, const std::string& caption,
    const std::function<bool(HWND)>& accept = [](HWND) { return true; });
// The visible top-level windows of the process, one line each, for failure messages.
std::string describeWindowsOf(DWORD processId);

// A window's text by WM_GETTEXT; none when the window does not answer in time.
std::optional<std::string> windowText(HWND window);

struct ComboContents {
    std::vector<std::string> items;
    int selected = -1;
};
// The items of a drop-down list and its selection; none when it does not answer in time.
std::optional<ComboContents> comboContents(HWND combo);

// A user's click on a push button, posted as BM_CLICK: the button itself notifies its dialog.
bool postClick(HWND button);
// A user's pick in a drop-down list: the selection moves to `index`, then the dialog gets
// WM_COMMAND with CBN_SELCHANGE from the list, posted as the list would deliver it.
bool postPick(HWND dialog, int listId, int index);

} // namespace ui
