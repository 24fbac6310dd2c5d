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

// Forgets recorded boxes and texts and restores the default responder and no listener.
void ResetEnvironment();

struct ListItem {
    std::string text;
    std::uint32_t data = 0;
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
    HeadlessDialog(CDialog& dialog, const DialogTemplate& tmpl);

    const ControlState* control(int id) const;
    bool ended() const { return m_ended; }
    std::intptr_t result() const { return m_result; }
    std::size_t droppedPosts() const { return m_dropped.load(); }

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

private:
    struct Impl;
    ControlState* find(int id);
    CDialog& m_dialog;
    std::vector<ControlState> m_controls;
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
