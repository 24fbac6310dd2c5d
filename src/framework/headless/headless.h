#pragma once
// The headless backend: dialogs as an in-memory surface that records control states, texts and
// message boxes. Tests and tarvelo-cli drive it the way a user's hands would, and read it back.

#include "framework/framework.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace headless {

struct MessageBoxRecord {
    bool owned; // owned by a dialog, rather than shown with no owner window
    std::string text;
    std::string caption;
    unsigned type;
};

// Answers a message box in place of the user; the default presses OK. Called on the thread
// that shows the box, which may be a driver's thread.
using MessageBoxResponder = std::function<int(const MessageBoxRecord&)>;
void SetMessageBoxResponder(MessageBoxResponder responder);
std::vector<MessageBoxRecord> MessageBoxes();

// Every text sent to the debugger output, in order; a listener sees each as it arrives.
std::vector<std::string> DebugOutputTexts();
void SetDebugOutputListener(std::function<void(const std::string&)> listener);

// Acts in place of the user on a dialog that runs modally (DoModal), on the thread that runs it,
// once WM_INITDIALOG has been handled: it may read the dialog and click or select on it. The run
// ends with the dialog's own EndDialog result if the responder ended it, and with the
// responder's answer otherwise. With no responder a modal run dispatches posted messages until
// the dialog ends itself.
using ModalResponder = std::function<std::intptr_t(CDialog&)>;
void SetModalResponder(ModalResponder responder);

// The program's resources and the system's measures, as the tests set them. There are no
// strings until one is set; the icon measures start at 32.
void SetStringResource(int id, std::string text);
void SetSystemMetric(int index, int value);

// Every request to the shell, in order.
struct ShellExecuteRecord {
    void* owner;
    std::string operation;
    std::string file;
    std::string parameters; // empty when none was given
    std::string directory;  // empty when none was given
    int showCommand;
};
std::vector<ShellExecuteRecord> ShellExecutions();

// Forgets recorded boxes, texts and shell requests, drops the string resources, restores the
// system measures, and restores the default responders and no listener.
void ResetEnvironment();

struct ListItem {
    std::string text;
    std::uint32_t data = 0;
};

struct MenuItem {
    unsigned flags;
    unsigned id;
    std::string text;
    bool operator==(const MenuItem&) const = default;
};

struct WindowMessage {
    unsigned message;
    WParam wParam;
    LParam lParam;
    bool operator==(const WindowMessage&) const = default;
};

struct DrawnIcon {
    void* dc;
    int x;
    int y;
    void* icon;
};

struct ControlState {
    const ControlTemplate* source;
    std::string text;
    bool enabled;
    bool visible;
    std::vector<ListItem> items;
    int selection = -1;
};

class HeadlessDialog final : public DialogBackend {
public:
    HeadlessDialog(CDialog& dialog, const DialogTemplate& tmpl, CDialog* owner);

    const ControlState* control(int id) const;
    bool ended() const { return m_ended; }
    std::intptr_t result() const { return m_result; }
    std::size_t droppedPosts() const { return m_dropped.load(); }
    CDialog* owner() const { return m_owner; }

    // What the window side did: entries appended to the system menu (a window has a system menu
    // when its template has the style); messages sent to the window, in order; messages handed
    // to default processing; icons drawn; whether a paint context is open.
    const std::vector<MenuItem>& systemMenu() const { return m_systemMenu; }
    const std::vector<WindowMessage>& sentMessages() const { return m_sent; }
    const std::vector<WindowMessage>& defaultProcessed() const { return m_defaultProcessed; }
    const std::vector<DrawnIcon>& drawnIcons() const { return m_drawnIcons; }
    bool painting() const { return m_painting; }

    // The window's state as a user or the system would change it. The client area starts at
    // the template's size, one pixel per dialog unit.
    void setIconic(bool iconic) { m_iconic = iconic; }
    void setClientSize(int width, int height) { m_clientRect = {0, 0, width, height}; }

    // Dispatches the messages posted so far. Returns how many ran.
    int pumpPending();
    // Dispatches posted messages as they arrive until `done` holds or the dialog ends, waiting
    // at most `timeout`. Returns `done()`.
    bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

    void create() override;
    std::intptr_t runModal() override;
    void endDialog(std::intptr_t result) override;
    bool hasControl(int id) const override;
    LResult controlMessage(int id, unsigned message, WParam wParam, LParam lParam) override;
    void enableControl(int id, bool enable) override;
    bool isControlEnabled(int id) const override;
    bool isControlVisible(int id) const override;
    void setControlText(int id, const char* text) override;
    std::string controlText(int id) const override;
    int messageBox(const char* text, const char* caption, unsigned type) override;
    LResult send(unsigned message, WParam wParam, LParam lParam) override;
    bool post(unsigned message, WParam wParam, LParam lParam) override;
    void* windowHandle() const override;
    bool hasSystemMenu() const override;
    bool appendSystemMenu(unsigned flags, unsigned id, const char* text) override;
    bool isIconic() const override { return m_iconic; }
    CRect clientRect() const override { return m_clientRect; }
    void* beginPaint() override;
    void drawIcon(void* dc, int x, int y, void* icon) override;
    void endPaint() override { m_painting = false; }
    LResult defaultProcessing(unsigned message, WParam wParam, LParam lParam) override;

private:
    struct Impl;
    ControlState* find(int id);
    CDialog& m_dialog;
    const DialogTemplate& m_template;
    CDialog* m_owner;
    std::vector<ControlState> m_controls;
    std::vector<MenuItem> m_systemMenu;
    std::vector<WindowMessage> m_sent;
    std::vector<WindowMessage> m_defaultProcessed;
    std::vector<DrawnIcon> m_drawnIcons;
    bool m_iconic = false;
    bool m_painting = false;
    CRect m_clientRect;
    char m_deviceContext = 0; // its address is the paint context's handle
    bool m_created = false;
    bool m_ended = false;
    std::intptr_t m_result = 0;
    std::atomic<std::size_t> m_dropped{0};
    std::unique_ptr<Impl> m_impl;
};

// The headless surface of a dialog made with Create() or running DoModal(); null otherwise.
HeadlessDialog* SurfaceOf(CDialog& dialog);

// A user's hands: they act only on controls that are visible and enabled, as a click would,
// and return false (doing nothing) otherwise.
bool Click(CDialog& dialog, int buttonId);
bool Select(CDialog& dialog, int listId, int index);

} // namespace headless
