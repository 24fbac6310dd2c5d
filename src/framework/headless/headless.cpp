#include "framework/headless/headless.h"

#include "framework/headless/post_queue.h"

#include <algorithm>
#include <mutex>
#include <semaphore>

namespace headless {
namespace {

struct Environment {
    std::mutex mutex;
    MessageBoxResponder responder;
    std::vector<MessageBoxRecord> boxes;
    std::vector<std::string> debugTexts;
    std::function<void(const std::string&)> debugListener;
};

Environment& environment() {
    static Environment env;
    return env;
}

int recordMessageBox(MessageBoxRecord record) {
    Environment& env = environment();
    MessageBoxResponder responder;
    {
        std::lock_guard lock(env.mutex);
        env.boxes.push_back(record);
        responder = env.responder;
    }
    // The answer is given outside the lock: a responder may take its time, as a user would.
    return responder ? responder(record) : IDOK;
}

struct PostedMessage {
    unsigned message;
    WParam wParam;
    LParam lParam;
};

} // namespace

void SetMessageBoxResponder(MessageBoxResponder responder) {
    std::lock_guard lock(environment().mutex);
    environment().responder = std::move(responder);
}

std::vector<MessageBoxRecord> MessageBoxes() {
    std::lock_guard lock(environment().mutex);
    return environment().boxes;
}

std::vector<std::string> DebugOutputTexts() {
    std::lock_guard lock(environment().mutex);
    return environment().debugTexts;
}

void SetDebugOutputListener(std::function<void(const std::string&)> listener) {
    std::lock_guard lock(environment().mutex);
    environment().debugListener = std::move(listener);
}

void ResetEnvironment() {
    std::lock_guard lock(environment().mutex);
    Environment& env = environment();
    env.responder = nullptr;
    env.boxes.clear();
    env.debugTexts.clear();
    env.debugListener = nullptr;
}

struct HeadlessDialog::Impl {
    PostQueue<PostedMessage, 1024> queue;
    std::counting_semaphore<> posted{0};
};

HeadlessDialog::HeadlessDialog(CDialog& dialog, const DialogTemplate& tmpl)
    : m_dialog(dialog)
    , m_impl(std::make_unique<Impl>()) {
    for (const ControlTemplate& c : tmpl.controls) {
        if (c.id != kNoControlId) {
            m_controls.push_back(
                {&c, c.caption ? c.caption : "", startsEnabled(c), startsVisible(c), {}, -1});
        }
    }
}

ControlState* HeadlessDialog::find(int id) {
    const auto it = std::find_if(m_controls.begin(), m_controls.end(),
                                 [id](const ControlState& c) { return c.source->id == id; });
    return it == m_controls.end() ? nullptr : &*it;
}

const ControlState* HeadlessDialog::control(int id) const {
    return const_cast<HeadlessDialog*>(this)->find(id);
}

void HeadlessDialog::create() {
    if (!m_created) {
        m_created = true;
        m_dialog.WindowProc(WM_INITDIALOG, 0, 0);
    }
}

std::intptr_t HeadlessDialog::runModal() {
    create();
    while (!m_ended) {
        pumpUntil([] { return false; }, std::chrono::hours(1));
    }
    return m_result;
}

void HeadlessDialog::endDialog(std::intptr_t result) {
    m_ended = true;
    m_result = result;
}

int HeadlessDialog::pumpPending() {
    int handled = 0;
    PostedMessage m{};
    while (!m_ended && m_impl->queue.pop(m)) {
        m_dialog.WindowProc(m.message, m.wParam, m.lParam);
        ++handled;
    }
    return handled;
}

bool HeadlessDialog::pumpUntil(const std::function<bool()>& done,
                               std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        pumpPending();
        if (done() || m_ended) {
            return done();
        }
        if (!m_impl->posted.try_acquire_until(deadline)) {
            pumpPending();
            return done();
        }
    }
}

bool HeadlessDialog::hasControl(int id) const {
    return control(id) != nullptr;
}

LResult HeadlessDialog::controlMessage(int id, unsigned message, WParam wParam, LParam lParam) {
    ControlState* c = find(id);
    if (!c || c->source->kind != ControlKind::ComboBox) {
        return CB_ERR;
    }
    const auto index = static_cast<std::size_t>(wParam);
    const bool validIndex = index < c->items.size();
    switch (message) {
    case CB_ADDSTRING:
        c->items.push_back({reinterpret_cast<const char*>(lParam), 0});
        return static_cast<LResult>(c->items.size() - 1);
    case CB_RESETCONTENT:
        c->items.clear();
        c->selection = -1;
        return 0;
    case CB_SETCURSEL:
        // An index outside the list clears the selection and reports CB_ERR, as Windows does.
        c->selection = validIndex ? static_cast<int>(index) : -1;
        return validIndex ? c->selection : CB_ERR;
    case CB_GETCURSEL:
        return c->selection;
    case CB_GETCOUNT:
        return static_cast<LResult>(c->items.size());
    case CB_SETITEMDATA:
        if (!validIndex) {
            return CB_ERR;
        }
        c->items[index].data = static_cast<std::uint32_t>(lParam);
        return 0;
    case CB_GETITEMDATA:
        return validIndex ? static_cast<LResult>(c->items[index].data) : CB_ERR;
    default:
        return CB_ERR;
    }
}

void HeadlessDialog::enableControl(int id, bool enable) {
    if (ControlState* c = find(id)) {
        c->enabled = enable;
    }
}

bool HeadlessDialog::isControlEnabled(int id) const {
    const ControlState* c = control(id);
    return c && c->enabled;
}

bool HeadlessDialog::isControlVisible(int id) const {
    const ControlState* c = control(id);
    return c && c->visible;
}

void HeadlessDialog::setControlText(int id, const char* text) {
    if (ControlState* c = find(id)) {
        c->text = text;
    }
}

std::string HeadlessDialog::controlText(int id) const {
    const ControlState* c = control(id);
    return c ? c->text : std::string();
}

int HeadlessDialog::messageBox(const char* text, const char* caption, unsigned type) {
    return recordMessageBox({true, text, caption, type});
}

LResult HeadlessDialog::send(unsigned message, WParam wParam, LParam lParam) {
    return m_dialog.WindowProc(message, wParam, lParam);
}

bool HeadlessDialog::post(unsigned message, WParam wParam, LParam lParam) {
    if (!m_impl->queue.push({message, wParam, lParam})) {
        m_dropped.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    m_impl->posted.release();
    return true;
}

void* HeadlessDialog::windowHandle() const {
    return const_cast<HeadlessDialog*>(this);
}

HeadlessDialog* SurfaceOf(CDialog& dialog) {
    return dynamic_cast<HeadlessDialog*>(dialog.Backend());
}

bool Click(CDialog& dialog, int buttonId) {
    CWnd* button = dialog.GetDlgItem(buttonId);
    if (!button || !button->IsWindowVisible() || !button->IsWindowEnabled()) {
        return false;
    }
    dialog.SendMessage(WM_COMMAND, makeCommandWParam(static_cast<unsigned>(buttonId), BN_CLICKED),
                       0);
    return true;
}

bool Select(CDialog& dialog, int listId, int index) {
    CWnd* list = dialog.GetDlgItem(listId);
    if (!list || !list->IsWindowVisible() || !list->IsWindowEnabled() || index < 0 ||
        index >= list->GetCount()) {
        return false;
    }
    list->SetCurSel(index);
    dialog.SendMessage(WM_COMMAND, makeCommandWParam(static_cast<unsigned>(listId), CBN_SELCHANGE),
                       0);
    return true;
}

} // namespace headless

std::unique_ptr<DialogBackend> MakeDialogBackend(CDialog& dialog, const DialogTemplate& tmpl,
                                                 CDialog*) {
    return std::make_unique<headless::HeadlessDialog>(dialog, tmpl);
}

int ShowMessageBox(const char* text, const char* caption, unsigned type) {
    return headless::recordMessageBox({false, text, caption, type});
}

void DebugOutput(const char* text) {
    headless::Environment& env = headless::environment();
    std::function<void(const std::string&)> listener;
    {
        std::lock_guard lock(env.mutex);
        env.debugTexts.emplace_back(text);
        listener = env.debugListener;
    }
    if (listener) {
        listener(text);
    }
}

void* LoadAppIcon(int) {
    return nullptr;
}
