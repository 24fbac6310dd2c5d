// The Win32 backend of the dialog framework: each dialog is a real window of the class #32770
// built from its template, with Windows' own controls under the template's ids. The dialog
// procedure hands every message to CDialog::WindowProc and turns its result into the answer
// the dialog manager expects; everything else here translates one call to its Windows call,
// the parts that need no dialog included (message boxes with no owner, the debugger output,
// resources, system measures, the shell).

#include "framework/win32/windows_api.h"

#include "framework/framework.h"
#include "framework/win32/dialog_template_win32.h"

#include <atomic>
#include <string>
#include <vector>

namespace {

HINSTANCE programInstance() {
    return GetModuleHandleA(nullptr);
}

LPCSTR resourceName(int id) {
    return reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(id)));
}

class Win32Dialog final : public DialogBackend {
public:
    Win32Dialog(CDialog& dialog, const DialogTemplate& tmpl, CDialog* owner)
        : m_dialog(dialog)
        , m_template(BuildWin32DialogTemplate(tmpl))
        , m_owner(owner ? static_cast<HWND>(owner->GetSafeHwnd()) : nullptr) {}

    ~Win32Dialog() override {
        if (HWND hwnd = window()) {
            // No message of the destruction may reach a dialog object that is going away.
            SetWindowLongPtrA(hwnd, DWLP_USER, 0);
            DestroyWindow(hwnd);
        }
    }

    Win32Dialog(const Win32Dialog&) = delete;
    Win32Dialog& operator=(const Win32Dialog&) = delete;

    void create() override {
        if (!window()) {
            m_modeless = true;
            CreateDialogIndirectParamA(programInstance(), dialogTemplate(), m_owner,
                                       &Win32Dialog::dialogProc, reinterpret_cast<LPARAM>(this));
        }
    }

    // A dialog already made modeless by create() has no modal run of its own: that fails.
    std::intptr_t runModal() override {
        if (window()) {
            return -1;
        }
        return DialogBoxIndirectParamA(programInstance(), dialogTemplate(), m_owner,
                                       &Win32Dialog::dialogProc, reinterpret_cast<LPARAM>(this));
    }

    void endDialog(std::intptr_t result) override {
        if (HWND hwnd = window()) {
            if (m_modeless) {
                DestroyWindow(hwnd);
            } else {
                EndDialog(hwnd, result);
            }
        }
    }

    bool hasControl(int id) const override { return control(id) != nullptr; }

    LResult controlMessage(int id, unsigned message, WParam wParam, LParam lParam) override {
        return SendDlgItemMessageA(window(), id, message, wParam, lParam);
    }

    void enableControl(int id, bool enable) override {
        if (HWND c = control(id)) {
            EnableWindow(c, enable ? TRUE : FALSE);
        }
    }

    bool isControlEnabled(int id) const override {
        HWND c = control(id);
        return c && IsWindowEnabled(c);
    }

    bool isControlVisible(int id) const override {
        HWND c = control(id);
        return c && IsWindowVisible(c);
    }

    void setControlText(int id, const char* text) override { SetDlgItemTextA(window(), id, text); }

    std::string controlText(int id) const override {
        HWND c = control(id);
        if (!c) {
            return {};
        }
        std::string text(static_cast<std::size_t>(GetWindowTextLengthA(c)) + 1, '\0');
        const int copied = GetWindowTextA(c, text.data(), static_cast<int>(text.size()));
        text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
        return text;
    }

    int messageBox(const char* text, const char* caption, unsigned type) override {
        return MessageBoxA(window(), text, caption, type);
    }

    LResult send(unsigned message, WParam wParam, LParam lParam) override {
        HWND hwnd = window();
        return hwnd ? SendMessageA(hwnd, message, wParam, lParam) : 0;
    }

    // PostMessageA queues and returns at once; it is safe from any thread.
    bool post(unsigned message, WParam wParam, LParam lParam) override {
        HWND hwnd = window();
        return hwnd && PostMessageA(hwnd, message, wParam, lParam);
    }

    void* windowHandle() const override { return window(); }

    bool hasSystemMenu() const override {
        HWND hwnd = window();
        return hwnd && GetSystemMenu(hwnd, FALSE);
    }

    bool appendSystemMenu(unsigned flags, unsigned id, const char* text) override {
        HWND hwnd = window();
        HMENU menu = hwnd ? GetSystemMenu(hwnd, FALSE) : nullptr;
        return menu && AppendMenuA(menu, flags, id, text);
    }

    bool isIconic() const override {
        HWND hwnd = window();
        return hwnd && IsIconic(hwnd);
    }

    CRect clientRect() const override {
        RECT rect{};
        GetClientRect(window(), &rect);
        return {rect.left, rect.top, rect.right, rect.bottom};
    }

    void* beginPaint() override { return BeginPaint(window(), &m_paint); }

    void drawIcon(void* dc, int x, int y, void* icon) override {
        DrawIcon(static_cast<HDC>(dc), x, y, static_cast<HICON>(icon));
    }

    void endPaint() override { EndPaint(window(), &m_paint); }

    // DefDlgProc would call the dialog procedure again; DefWindowProc is what it ends in for
    // the messages that handlers pass on.
    LResult defaultProcessing(unsigned message, WParam wParam, LParam lParam) override {
        return DefWindowProcA(window(), message, wParam, lParam);
    }

private:
    static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            auto* self = reinterpret_cast<Win32Dialog*>(lParam);
            SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
            self->m_hwnd.store(hwnd, std::memory_order_release);
            return static_cast<INT_PTR>(self->m_dialog.WindowProc(WM_INITDIALOG, wParam, 0));
        }
        auto* self = reinterpret_cast<Win32Dialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
        if (!self) {
            return FALSE; // before WM_INITDIALOG (WM_SETFONT) or after the object let go
        }
        if (message == WM_NCDESTROY) {
            SetWindowLongPtrA(hwnd, DWLP_USER, 0);
            self->m_hwnd.store(nullptr, std::memory_order_release);
            return FALSE;
        }
        const LResult result = self->m_dialog.WindowProc(message, wParam, lParam);
        if (message == WM_QUERYDRAGICON) {
            return static_cast<INT_PTR>(result); // returned as it is, not as DWLP_MSGRESULT
        }
        if (result == 0) {
            return FALSE; // the dialog manager's default processing runs
        }
        SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, 0);
        return TRUE;
    }

    HWND window() const { return m_hwnd.load(std::memory_order_acquire); }
    HWND control(int id) const {
        HWND hwnd = window();
        return hwnd ? GetDlgItem(hwnd, id) : nullptr;
    }
    LPCDLGTEMPLATEA dialogTemplate() const {
        return reinterpret_cast<LPCDLGTEMPLATEA>(m_template.data());
    }

    CDialog& m_dialog;
    const std::vector<std::uint16_t> m_template;
    const HWND m_owner;
    // Read by post() on any thread: set once the window exists, cleared when it is gone.
    std::atomic<HWND> m_hwnd{nullptr};
    bool m_modeless = false;
    PAINTSTRUCT m_paint{};
};

} // namespace

std::unique_ptr<DialogBackend> MakeDialogBackend(CDialog& dialog, const DialogTemplate& tmpl,
                                                 CDialog* owner) {
    return std::make_unique<Win32Dialog>(dialog, tmpl, owner);
}

int ShowMessageBox(const char* text, const char* caption, unsigned type) {
    return MessageBoxA(nullptr, text, caption, type);
}

void DebugOutput(const char* text) {
    OutputDebugStringA(text);
}

void* LoadAppIcon(int resourceId) {
    return LoadIconA(programInstance(), resourceName(resourceId));
}

std::string LoadResourceString(int id) {
    char text[512];
    const int length = LoadStringA(programInstance(), static_cast<UINT>(id), text, sizeof text);
    return length > 0 ? std::string(text, static_cast<std::size_t>(length)) : std::string();
}

int SystemMetric(int index) {
    return GetSystemMetrics(index);
}

std::intptr_t ShellExecuteOperation(void* owner, const char* operation, const char* file,
                                    const char* parameters, const char* directory,
                                    int showCommand) {
    return reinterpret_cast<std::intptr_t>(ShellExecuteA(static_cast<HWND>(owner), operation, file,
                                                         parameters, directory, showCommand));
}
