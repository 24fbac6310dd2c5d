#include "ui_automation.h"

#include <algorithm>
#include <thread>

namespace ui {

namespace {

// How long a window of the other process may take to answer one message.
constexpr UINT kAnswerLimitMs = 5000;
constexpr auto kPollInterval = 20ms;

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

std::string narrowed(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(std::max(size, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size,
                        nullptr, nullptr);
    return result;
}

std::string classNameOf(HWND window) {
    char name[256]{};
    const int length = GetClassNameA(window, name, sizeof name);
    return std::string(name, static_cast<std::size_t>(std::max(length, 0)));
}

// A top-level window's caption is kept by the system, so reading it sends the owner nothing
// and works while the owner's thread is busy.
std::string captionOf(HWND window) {
    char caption[512]{};
    const int length = GetWindowTextA(window, caption, sizeof caption);
    return std::string(caption, static_cast<std::size_t>(std::max(length, 0)));
}

BOOL CALLBACK collectVisibleWindow(HWND window, LPARAM found) {
    auto& request = *reinterpret_cast<std::pair<DWORD, std::vector<TopWindow>*>*>(found);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == request.first && IsWindowVisible(window)) {
        request.second->push_back({window, classNameOf(window), captionOf(window)});
    }
    return TRUE;
}

} // namespace

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

std::string windowsPath(const std::string& path) {
    if (path.empty() || path.front() != '/') {
        return path;
    }
    std::string converted = "Z:" + path;
    std::replace(converted.begin(), converted.end(), '/', '\\');
    return converted;
}

std::optional<DWORD> runToEnd(std::string commandLine, std::chrono::milliseconds limit) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &process)) {
        return std::nullopt;
    }
    DWORD exitCode = 0;
    const bool ended =
        WaitForSingleObject(process.hProcess, static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended ? std::optional<DWORD>(exitCode) : std::nullopt;
}

Program::Program(const std::string& path) {
    // In a job that ends it when the last handle to the job closes, so that the program goes
    // even when this test program itself dies.
    m_job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (m_job == nullptr || !SetInformationJobObject(m_job, JobObjectExtendedLimitInformation,
                                                     &limits, sizeof limits)) {
        m_error = "cannot make a job object (error " + std::to_string(GetLastError()) + ")";
        return;
    }
    std::string commandLine = "\"" + path + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &m_process)) {
        m_error =
            "CreateProcess of " + path + " failed (error " + std::to_string(GetLastError()) + ")";
        m_process = {};
        return;
    }
    if (!AssignProcessToJobObject(m_job, m_process.hProcess)) {
        m_error = "cannot put " + path + " in a job (error " + std::to_string(GetLastError()) + ")";
    }
    ResumeThread(m_process.hThread);
}

Program::~Program() {
    if (m_process.hProcess != nullptr) {
        if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(m_process.hProcess, 1);
            WaitForSingleObject(m_process.hProcess, 10000);
        }
        CloseHandle(m_process.hThread);
        CloseHandle(m_process.hProcess);
    }
    if (m_job != nullptr) {
        CloseHandle(m_job);
    }
}

std::optional<DWORD> Program::waitForExit(std::chrono::milliseconds limit) {
    DWORD exitCode = 0;
    if (m_process.hProcess == nullptr ||
        WaitForSingleObject(m_process.hProcess, static_cast<DWORD>(limit.count())) !=
            WAIT_OBJECT_0 ||
        !GetExitCodeProcess(m_process.hProcess, &exitCode)) {
        return std::nullopt;
    }
    return exitCode;
}

std::vector<TopWindow> visibleWindowsOf(DWORD processId) {
    std::vector<TopWindow> windows;
    std::pair<DWORD, std::vector<TopWindow>*> request{processId, &windows};
    EnumWindows(collectVisibleWindow, reinterpret_cast<LPARAM>(&request));
    return windows;
}

std::string describeWindowsOf(DWORD processId) {
    std::string description;
    for (const TopWindow& window : visibleWindowsOf(processId)) {
        description += "  [" + window.className + "] \"" + window.caption + "\"\n";
    }
    return description.empty() ? "  (no visible window)\n" : description;
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

std::optional<std::string> windowText(HWND window) {
    const std::optional<LRESULT> length = sendWithLimit(window, WM_GETTEXTLENGTH, 0, 0);
    if (!length || *length < 0) {
        return std::nullopt;
    }
    std::wstring text(static_cast<std::size_t>(*length) + 1, L'\0');
    const std::optional<LRESULT> copied =
        sendWithLimit(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    if (!copied) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(std::clamp<LRESULT>(*copied, 0, *length)));
    return narrowed(text);
}

std::optional<ComboContents> comboContents(HWND combo) {
    const std::optional<LRESULT> count = sendWithLimit(combo, CB_GETCOUNT, 0, 0);
    const std::optional<LRESULT> selected = sendWithLimit(combo, CB_GETCURSEL, 0, 0);
    if (!count || !selected) {
        return std::nullopt;
    }
    ComboContents contents;
    contents.selected = static_cast<int>(*selected);
    for (WPARAM index = 0; index < static_cast<WPARAM>(std::max<LRESULT>(*count, 0)); ++index) {
        const std::optional<LRESULT> length = sendWithLimit(combo, CB_GETLBTEXTLEN, index, 0);
        if (!length || *length < 0) {
            return std::nullopt;
        }
        std::wstring item(static_cast<std::size_t>(*length) + 1, L'\0');
        const std::optional<LRESULT> copied =
            sendWithLimit(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(item.data()));
        if (!copied || *copied < 0) {
            return std::nullopt;
        }
        item.resize(static_cast<std::size_t>(std::min(*copied, *length)));
        contents.items.push_back(narrowed(item));
    }
    return contents;
}

bool postClick(HWND button) {
    return PostMessageA(button, BM_CLICK, 0, 0) != 0;
}

bool postPick(HWND dialog, int listId, int index) {
    HWND list = GetDlgItem(dialog, listId);
    if (list == nullptr) {
        return false;
    }
    const std::optional<LRESULT> selected =
        sendWithLimit(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    if (!selected || *selected != index) {
        return false;
    }
    return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(listId, CBN_SELCHANGE),
                        reinterpret_cast<LPARAM>(list)) != 0;
}

} // namespace ui
