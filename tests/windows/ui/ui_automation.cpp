#include "ui_automation.h"

#include <algorithm>
#include <thread>

namespace ui {

namespace {

// How long a window of the other process may take to answer one message.
constexpr UINT kAnswerLimitMs = 5000;

// The wide variant, so that texts come back as UTF-16 whatever the message: Wine hands an ANSI
// caller of CB_GETLBTEXT in another process the item's UTF-16 text, twice the bytes that the
// ANSI length promised.
std::optional<LRESULT> sendWithLimit(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (SendMessageTimeoutW(window, message, wParam, lParam, SMTO_BLOCK | SMTO_ABORTIFHUNG,
                            kAnswerLimitMs, &result) == 0) {
        return std::nullopt;
    }
    return static_cast<LRESULT>(result);
}

// The text a window answers to `getText` after `getLength` (both with `wParam`), as UTF-8.
std::optional<std::string> askText(HWND window, UINT getLength, UINT getText, WPARAM wParam) {
    const std::optional<LRESULT> length = sendWithLimit(window, getLength, wParam, 0);
    if (!length || *length < 0) {
        return std::nullopt;
    }
    std::wstring text(static_cast<std::size_t>(*length) + 1, L'\0');
    const std::optional<LRESULT> copied =
        sendWithLimit(window, getText, getText == WM_GETTEXT ? text.size() : wParam,
                      reinterpret_cast<LPARAM>(text.data()));
    if (!copied || *copied < 0) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(std::min(*copied, *length)));
    std::string utf8(text.size() * 3, '\0');
    utf8.resize(static_cast<std::size_t>(
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(),
                            static_cast<int>(utf8.size()), nullptr, nullptr)));
    return utf8;
}

// The visible top-level windows of a process with their class and caption. A top-level
// window's caption is kept by the system, so reading it works while its owner is busy.
struct TopWindow {
    HWND handle;
    std::string className;
    std::string caption;
};

using WindowSearch = std::pair<DWORD, std::vector<TopWindow>>;

BOOL CALLBACK collectVisibleWindow(HWND window, LPARAM search) {
    auto& [processId, windows] = *reinterpret_cast<WindowSearch*>(search);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == processId && IsWindowVisible(window)) {
        char className[256]{};
        char caption[512]{};
        GetClassNameA(window, className, sizeof className);
        GetWindowTextA(window, caption, sizeof caption);
        windows.push_back({window, className, caption});
    }
    return TRUE;
}

std::vector<TopWindow> visibleWindowsOf(DWORD processId) {
    WindowSearch search{processId, {}};
    EnumWindows(collectVisibleWindow, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

} // namespace

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    for (const auto end = std::chrono::steady_clock::now() + limit; !condition();) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

Program::Program(const std::string& path) {
    m_job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(m_job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    std::string commandLine = "\"" + path + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                       nullptr, nullptr, &startup, &m_process)) {
        AssignProcessToJobObject(m_job, m_process.hProcess);
        ResumeThread(m_process.hThread);
    }
}

Program::~Program() {
    if (started()) {
        TerminateProcess(m_process.hProcess, 1); // does nothing once it has ended
        WaitForSingleObject(m_process.hProcess, 10000);
        CloseHandle(m_process.hThread);
        CloseHandle(m_process.hProcess);
    }
    CloseHandle(m_job);
}

std::optional<DWORD> Program::waitForExit(std::chrono::milliseconds limit) {
    DWORD exitCode = 0;
    if (!started() ||
        WaitForSingleObject(m_process.hProcess, static_cast<DWORD>(limit.count())) !=
            WAIT_OBJECT_0 ||
        !GetExitCodeProcess(m_process.hProcess, &exitCode)) {
        return std::nullopt;
    }
    return exitCode;
}

HWND findDialog(DWORD processId, const std::string& caption,
                const std::function<bool(HWND)>& accept) {
    for (const TopWindow& window : visibleWindowsOf(processId)) {
        if (window.className == "#32770" && window.caption == caption && accept(window.handle)) {
            return window.handle;
        }
    }
    return nullptr;
}

std::string describeWindowsOf(DWORD processId) {
    std::string description;
    for (const TopWindow& window : visibleWindowsOf(processId)) {
        description += "  [" + window.className + "] \"" + window.caption + "\"\n";
    }
    return description.empty() ? "  (no visible window)\n" : description;
}

std::optional<std::string> windowText(HWND window) {
    return askText(window, WM_GETTEXTLENGTH, WM_GETTEXT, 0);
}

std::optional<ComboContents> comboContents(HWND combo) {
    const std::optional<LRESULT> count = sendWithLimit(combo, CB_GETCOUNT, 0, 0);
    const std::optional<LRESULT> selected = sendWithLimit(combo, CB_GETCURSEL, 0, 0);
    if (!count || !selected) {
        return std::nullopt;
    }
    ComboContents contents{{}, static_cast<int>(*selected)};
    for (WPARAM index = 0; index < static_cast<WPARAM>(std::max<LRESULT>(*count, 0)); ++index) {
        const std::optional<std::string> item =
            askText(combo, CB_GETLBTEXTLEN, CB_GETLBTEXT, index);
        if (!item) {
            return std::nullopt;
        }
        contents.items.push_back(*item);
    }
    return contents;
}

bool postClick(HWND button) {
    return PostMessageA(button, BM_CLICK, 0, 0) != 0;
}

bool postPick(HWND dialog, int listId, int index) {
    HWND list = GetDlgItem(dialog, listId);
    const std::optional<LRESULT> selected =
        list ? sendWithLimit(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0) : std::nullopt;
    return selected && *selected == index &&
           PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(listId, CBN_SELCHANGE),
                        reinterpret_cast<LPARAM>(list)) != 0;
}

} // namespace ui
