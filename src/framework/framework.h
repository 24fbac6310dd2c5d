#pragma once
// The dialog framework port: an application object, dialogs with message maps, control access
// by id, message boxes, send and post of commands, and the debugger output.
//
// Contract. The common part here owns the message maps and the routing of every message to its
// handler, so both backends behave alike; a backend (headless/ or win32/) only carries controls,
// windows, menus, paint contexts and queues, and translates each call to its platform.
// Everything runs on the user-interface thread, except `CDialog::PostMessage`, `ShowMessageBox`
// and `DebugOutput`, which any thread may call; `PostMessage` never blocks and never allocates,
// so a driver's real-time thread may use it.

#include "framework/dialog_template.h"
#include "framework/win_constants.h"

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <vector>

class CDialog;
class CWinApp;

// A rectangle in pixels, as GetClientRect gives it.
struct CRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

// A control of a dialog, reached by id. Lives as long as its dialog's window.
class CWnd {
public:
    CWnd(CDialog& owner, int id)
        : m_owner(owner)
        , m_id(id) {}

    int GetDlgCtrlID() const { return m_id; }
    void EnableWindow(bool enable);
    bool IsWindowEnabled() const;
    bool IsWindowVisible() const;
    void SetWindowText(const char* text);
    std::string GetWindowText() const;
    LResult SendMessage(unsigned message, WParam wParam = 0, LParam lParam = 0);

    // Drop-down list operations, as their CB_ messages.
    int AddString(const char* text);
    void ResetContent();
    int SetCurSel(int index);
    int GetCurSel() const;
    int GetCount() const;
    int SetItemData(int index, std::uint32_t data);
    std::uint32_t GetItemData(int index) const;

private:
    CDialog& m_owner;
    int m_id;
};

// The system menu of a dialog's window.
class CMenu {
public:
    explicit CMenu(CDialog& owner)
        : m_owner(owner) {}

    // Appends MF_SEPARATOR, or MF_STRING with a command id and its text.
    bool AppendMenu(unsigned flags, unsigned id = 0, const char* text = nullptr);

private:
    CDialog& m_owner;
};

// A paint context of a dialog's window, open from construction (BeginPaint) to destruction
// (EndPaint). Made only while the window handles WM_PAINT.
class CPaintDC {
public:
    explicit CPaintDC(CDialog& window);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    // The device context; null when the window has none.
    void* GetSafeHdc() const { return m_dc; }
    void DrawIcon(int x, int y, void* icon);

private:
    CDialog& m_window;
    void* m_dc;
};

// One entry of a message map. Command entries name a control id and notification code.
struct MessageMapEntry {
    unsigned message;
    unsigned code;
    int id;
    void (CDialog::*handler)() = nullptr;
    void (CDialog::*sysCommandHandler)(unsigned, LParam) = nullptr;
    void* (CDialog::*dragIconHandler)() = nullptr;
};

template <class D>
inline MessageMapEntry MapBnClicked(int id, void (D::*handler)()) {
    return {WM_COMMAND, BN_CLICKED, id, static_cast<void (CDialog::*)()>(handler)};
}
template <class D>
inline MessageMapEntry MapCbnSelchange(int id, void (D::*handler)()) {
    return {WM_COMMAND, CBN_SELCHANGE, id, static_cast<void (CDialog::*)()>(handler)};
}
template <class D>
inline MessageMapEntry MapSysCommand(void (D::*handler)(unsigned, LParam)) {
    return {WM_SYSCOMMAND, 0, 0, nullptr,
            static_cast<void (CDialog::*)(unsigned, LParam)>(handler)};
}
template <class D>
inline MessageMapEntry MapPaint(void (D::*handler)()) {
    return {WM_PAINT, 0, 0, static_cast<void (CDialog::*)()>(handler)};
}
template <class D>
inline MessageMapEntry MapQueryDragIcon(void* (D::*handler)()) {
    return {WM_QUERYDRAGICON, 0, 0, nullptr, nullptr, static_cast<void* (CDialog::*)()>(handler)};
}

// What a backend does for one dialog window.
class DialogBackend {
public:
    virtual ~DialogBackend() = default;

    // Makes the window and its controls and sends WM_INITDIALOG, without waiting for input.
    virtual void create() = 0;
    // Runs the dialog until EndDialog (creating it first if need be); every message reaches
    // CDialog::WindowProc.
    virtual std::intptr_t runModal() = 0;
    virtual void endDialog(std::intptr_t result) = 0;

    virtual bool hasControl(int id) const = 0;
    virtual LResult controlMessage(int id, unsigned message, WParam wParam, LParam lParam) = 0;
    virtual void enableControl(int id, bool enable) = 0;
    virtual bool isControlEnabled(int id) const = 0;
    virtual bool isControlVisible(int id) const = 0;
    virtual void setControlText(int id, const char* text) = 0;
    virtual std::string controlText(int id) const = 0;

    virtual int messageBox(const char* text, const char* caption, unsigned type) = 0;
    virtual LResult send(unsigned message, WParam wParam, LParam lParam) = 0;
    // Any thread; never blocks. False when the queue is full or the window is gone.
    virtual bool post(unsigned message, WParam wParam, LParam lParam) = 0;
    virtual void* windowHandle() const = 0;

    // The window's system menu as it stands (it is never reset): whether there is one, and
    // appending an entry to it.
    virtual bool hasSystemMenu() const = 0;
    virtual bool appendSystemMenu(unsigned flags, unsigned id, const char* text) = 0;
    virtual bool isIconic() const = 0;
    virtual CRect clientRect() const = 0;
    // One paint context at a time: beginPaint returns its device context, endPaint closes it.
    virtual void* beginPaint() = 0;
    virtual void drawIcon(void* dc, int x, int y, void* icon) = 0;
    virtual void endPaint() = 0;
    // The window's default processing of a message that its handler passes on.
    virtual LResult defaultProcessing(unsigned message, WParam wParam, LParam lParam) = 0;
};

// Provided by the backend library the program links. `owner` is the window that owns the
// dialog's window, or null.
std::unique_ptr<DialogBackend> MakeDialogBackend(CDialog& dialog, const DialogTemplate& tmpl,
                                                 CDialog* owner);

class CDialog {
public:
    CDialog(const DialogTemplate& tmpl, CDialog* parent = nullptr);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog until it ends. Its window is owned by the parent, or when there is none by
    // the application's main window (unless that is this dialog or has no window).
    std::intptr_t DoModal();
    // Makes the window, owned by the parent, without running a modal loop; the headless
    // surface is driven this way.
    void Create();
    void EndDialog(std::intptr_t result);

    // The control with this id, or null when the dialog has none (or has no window yet).
    CWnd* GetDlgItem(int id);

    int MessageBox(const char* text, const char* caption, unsigned type);
    LResult SendMessage(unsigned message, WParam wParam, LParam lParam);
    bool PostMessage(unsigned message, WParam wParam, LParam lParam);
    void* GetSafeHwnd() const;

    // The window's system menu, or null when it has none.
    CMenu* GetSystemMenu();
    bool IsIconic() const;
    CRect GetClientRect() const;
    // The window's default processing, for a handler that passes a message on.
    LResult DefWindowProc(unsigned message, WParam wParam, LParam lParam);

    // Every message of the window arrives here, from either backend. The result: for
    // WM_INITDIALOG whether the system should set the focus; for WM_QUERYDRAGICON the icon (null
    // for the default); for any other message non-zero when a handler took it (its answer to the
    // sender is then 0) and 0 when the window's default processing is still to run.
    LResult WindowProc(unsigned message, WParam wParam, LParam lParam);

    const DialogTemplate& Template() const { return m_template; }
    DialogBackend* Backend() { return m_backend.get(); }

protected:
    virtual std::span<const MessageMapEntry> GetMessageMap() const { return {}; }
    virtual bool OnInitDialog() { return true; }
    // Routes a command through the message map; IDOK and IDCANCEL end the dialog when the map
    // has no entry for them, and any other command with notification code 0 (a click, a menu
    // command) goes on to the application's command map. Returns whether a handler took it.
    virtual bool OnCommand(WParam wParam, LParam lParam);
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

private:
    friend class CWnd;
    friend class CMenu;
    friend class CPaintDC;
    const MessageMapEntry* FindEntry(unsigned message, unsigned code, int id) const;

    const DialogTemplate& m_template;
    CDialog* m_parent;
    std::unique_ptr<DialogBackend> m_backend;
    std::vector<CWnd> m_controls;
    CMenu m_systemMenu{*this};
};

// One entry of the application's command map.
struct AppCommandEntry {
    unsigned id;
    void (CWinApp::*handler)();
};

class CWinApp {
public:
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual bool InitInstance() { return false; }
    virtual std::span<const AppCommandEntry> GetMessageMap() const { return {}; }
    // Runs the map's handler for a command that no window took; false when the map has none.
    bool OnCmdMsg(unsigned id);
    // The framework's help command. There is no help system behind it, so it shows nothing.
    void OnHelp() {}

    CDialog* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();
// The application's main window, or null.
CDialog* AfxGetMainWnd();
// The framework's entry: runs the application's InitInstance and returns the process's exit
// code. There is no message loop of the framework's own: the program's dialogs run their own.
int AfxWinMain();

// A modal message box with no owner window. Any thread; it holds the calling thread until it
// is dismissed, and returns the button that dismissed it.
int ShowMessageBox(const char* text, const char* caption, unsigned type);
// Sends a text unchanged to the debugger output. Any thread.
void DebugOutput(const char* text);
// The program's icon (a group-icon resource). The headless backend hands out a stand-in that
// is the same for the same id and is never drawn.
void* LoadAppIcon(int resourceId);
// The text of the program's string resource `id`; empty when there is none.
std::string LoadResourceString(int id);
// A system measure, such as SM_CXICON and SM_CYICON.
int SystemMetric(int index);
// Asks the shell to carry out `operation` (such as "open") on `file`, a document or an address;
// parameters and directory may be null. Returns the shell's result: above 32 on success.
std::intptr_t ShellExecuteOperation(void* owner, const char* operation, const char* file,
                                    const char* parameters, const char* directory, int showCommand);
