#include "framework/headless/headless.h"

#include "realtime/post_queue.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace headless {
namespace {

std::map<int, int> defaultMetrics() {
    return {{SM_CXICON, 32}, {SM_CYICON, 32}};
}

struct Environment {
    std::mutex mutex;
    MessageBoxResponder responder;
    std::vector<MessageBoxRecord> boxes;
    std::vector<std::string> debugTexts;
    std::function<void(const std::string&)> debugListener;
    ModalResponder modalResponder;
    std::map<int, std::string> strings;
    std::map<int, int> metrics = defaultMetrics();
    std::vector<ShellExecuteRecord> shellExecutions;
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

void SetModalResponder(ModalResponder responder) {
    std::lock_guard lock(environment().mutex);
    environment().modalResponder = std::move(responder);
}

void SetStringResource(int id, std::string text) {
    std::lock_guard lock(environment().mutex);
    environment().strings[id] = std::move(text);
}

void SetSystemMetric(int index, int value) {
    std::lock_guard lock(environment().mutex);
    environment().metrics[index] = value;
}

std::vector<ShellExecuteRecord> ShellExecutions() {
    std::lock_guard lock(environment().mutex);
    return environment().shellExecutions;
}

void ResetEnvironment() {
    std::lock_guard lock(environment().mutex);
    Environment& env = environment();
    env.responder = nullptr;
    env.boxes.clear();
    env.debugTexts.clear();
    env.debugListener = nullptr;
    env.modalResponder = nullptr;
    env.strings.clear();
    env.metrics = defaultMetrics();
    env.shellExecutions.clear();
}

struct HeadlessDialog::Impl {
    WaitablePostQueue<PostedMessage, 1024> queue;
};

HeadlessDialog::HeadlessDialog(CDialog& dialog, const DialogTemplate& tmpl, CDialog* owner)
    : m_dialog(dialog)
    , m_template(tmpl)
    , m_owner(owner)
    , m_clientRect{0, 0, tmpl.width, tmpl.height}
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
    ModalResponder responder;
    {
        std::lock_guard lock(environment().mutex);
        responder = environment().modalResponder;
    }
    if (responder) {
        const std::intptr_t answer = responder(m_dialog);
        if (!m_ended) {
            endDialog(answer);
        }
        return m_result;
    }
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
        if (!m_impl->queue.waitUntil(deadline)) {
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
    m_sent.push_back({message, wParam, lParam});
    return m_dialog.WindowProc(message, wParam, lParam);
}

bool HeadlessDialog::post(unsigned message, WParam wParam, LParam lParam) {
    if (!m_impl->queue.push({message, wParam, lParam})) {
        m_dropped.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    return true;
}

void* HeadlessDialog::windowHandle() const {
    return const_cast<HeadlessDialog*>(this);
}

bool HeadlessDialog::hasSystemMenu() const {
    return (m_template.style & dlgstyle::kSysMenu) != 0;
}

bool HeadlessDialog::appendSystemMenu(unsigned flags, unsigned id, const char* text) {
    m_systemMenu.push_back({flags, id, text ? text : ""});
    return true;
}

void* HeadlessDialog::beginPaint() {
    m_painting = true;
    return &m_deviceContext;
}

void HeadlessDialog::drawIcon(void* dc, int x, int y, void* icon) {
    m_drawnIcons.push_back({dc, x, y, icon});
}

LResult HeadlessDialog::defaultProcessing(unsigned message, WParam wParam, LParam lParam) {
    m_defaultProcessed.push_back({message, wParam, lParam});
    return 0;
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
                                                 CDialog* owner) {
    return std::make_unique<headless::HeadlessDialog>(dialog, tmpl, owner);
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

void* LoadAppIcon(int resourceId) {
    // Node-based, so each id's stand-in keeps its address.
    static std::map<int, char> standIns;
    std::lock_guard lock(headless::environment().mutex);
    return &standIns[resourceId];
}

std::string LoadResourceString(int id) {
    headless::Environment& env = headless::environment();
    std::lock_guard lock(env.mutex);
    const auto it = env.strings.find(id);
    return it == env.strings.end() ? std::string() : it->second;
}

int SystemMetric(int index) {
    headless::Environment& env = headless::environment();
    std::lock_guard lock(env.mutex);
    const auto it = env.metrics.find(index);
    return it == env.metrics.end() ? 0 : it->second;
}

std::intptr_t ShellExecuteOperation(void* owner, const char* operation, const char* file,
                                    const char* parameters, const char* directory,
                                    int showCommand) {
    const auto text = [](const char* value) { return std::string(value ? value : ""); };
    headless::Environment& env = headless::environment();
    std::lock_guard lock(env.mutex);
    env.shellExecutions.push_back(
        {owner, text(operation), text(file), text(parameters), text(directory), showCommand});
    // The shell's results above 32 mean that it carried the request out.
    return 33;
}
