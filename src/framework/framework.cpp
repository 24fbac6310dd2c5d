#include "framework/framework.h"

#include <algorithm>

namespace {
CWinApp* g_app = nullptr;
}

void CWnd::EnableWindow(bool enable) {
    m_owner.m_backend->enableControl(m_id, enable);
}
bool CWnd::IsWindowEnabled() const {
    return m_owner.m_backend->isControlEnabled(m_id);
}
bool CWnd::IsWindowVisible() const {
    return m_owner.m_backend->isControlVisible(m_id);
}
void CWnd::SetWindowText(const char* text) {
    m_owner.m_backend->setControlText(m_id, text);
}
std::string CWnd::GetWindowText() const {
    return m_owner.m_backend->controlText(m_id);
}

LResult CWnd::SendMessage(unsigned message, WParam wParam, LParam lParam) {
    return m_owner.m_backend->controlMessage(m_id, message, wParam, lParam);
}

int CWnd::AddString(const char* text) {
    return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LParam>(text)));
}
void CWnd::ResetContent() {
    SendMessage(CB_RESETCONTENT);
}
int CWnd::SetCurSel(int index) {
    return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WParam>(index)));
}
int CWnd::GetCurSel() const {
    return static_cast<int>(m_owner.m_backend->controlMessage(m_id, CB_GETCURSEL, 0, 0));
}
int CWnd::GetCount() const {
    return static_cast<int>(m_owner.m_backend->controlMessage(m_id, CB_GETCOUNT, 0, 0));
}
int CWnd::SetItemData(int index, std::uint32_t data) {
    return static_cast<int>(
        SendMessage(CB_SETITEMDATA, static_cast<WParam>(index), static_cast<LParam>(data)));
}
std::uint32_t CWnd::GetItemData(int index) const {
    return static_cast<std::uint32_t>(
        m_owner.m_backend->controlMessage(m_id, CB_GETITEMDATA, static_cast<WParam>(index), 0));
}

CDialog::CDialog(const DialogTemplate& tmpl, CDialog* parent)
    : m_template(tmpl)
    , m_parent(parent) {
    for (const ControlTemplate& c : tmpl.controls) {
        if (c.id != kNoControlId) {
            m_controls.emplace_back(*this, c.id);
        }
    }
}

CDialog::~CDialog() = default;

bool CMenu::AppendMenu(unsigned flags, unsigned id, const char* text) {
    return m_owner.m_backend && m_owner.m_backend->appendSystemMenu(flags, id, text);
}

CPaintDC::CPaintDC(CDialog& window)
    : m_window(window)
    , m_dc(window.m_backend ? window.m_backend->beginPaint() : nullptr) {}

CPaintDC::~CPaintDC() {
    if (m_window.m_backend) {
        m_window.m_backend->endPaint();
    }
}

void CPaintDC::DrawIcon(int x, int y, void* icon) {
    if (m_window.m_backend) {
        m_window.m_backend->drawIcon(m_dc, x, y, icon);
    }
}

std::intptr_t CDialog::DoModal() {
    if (!m_backend) {
        CDialog* owner = m_parent;
        CDialog* mainWindow = AfxGetMainWnd();
        if (!owner && mainWindow != this && mainWindow && mainWindow->GetSafeHwnd()) {
            owner = mainWindow;
        }
        m_backend = MakeDialogBackend(*this, m_template, owner);
    }
    return m_backend->runModal();
}

void CDialog::Create() {
    m_backend = MakeDialogBackend(*this, m_template, m_parent);
    m_backend->create();
}

void CDialog::EndDialog(std::intptr_t result) {
    if (m_backend) {
        m_backend->endDialog(result);
    }
}

CWnd* CDialog::GetDlgItem(int id) {
    if (!m_backend || !m_backend->hasControl(id)) {
        return nullptr;
    }
    const auto it = std::find_if(m_controls.begin(), m_controls.end(),
                                 [id](const CWnd& c) { return c.GetDlgCtrlID() == id; });
    return it == m_controls.end() ? nullptr : &*it;
}

int CDialog::MessageBox(const char* text, const char* caption, unsigned type) {
    return m_backend ? m_backend->messageBox(text, caption, type)
                     : ShowMessageBox(text, caption, type);
}

LResult CDialog::SendMessage(unsigned message, WParam wParam, LParam lParam) {
    return m_backend ? m_backend->send(message, wParam, lParam)
                     : WindowProc(message, wParam, lParam);
}

bool CDialog::PostMessage(unsigned message, WParam wParam, LParam lParam) {
    return m_backend && m_backend->post(message, wParam, lParam);
}

void* CDialog::GetSafeHwnd() const {
    return m_backend ? m_backend->windowHandle() : nullptr;
}

CMenu* CDialog::GetSystemMenu() {
    return m_backend && m_backend->hasSystemMenu() ? &m_systemMenu : nullptr;
}

bool CDialog::IsIconic() const {
    return m_backend && m_backend->isIconic();
}

CRect CDialog::GetClientRect() const {
    return m_backend ? m_backend->clientRect() : CRect{};
}

LResult CDialog::DefWindowProc(unsigned message, WParam wParam, LParam lParam) {
    return m_backend ? m_backend->defaultProcessing(message, wParam, lParam) : 0;
}

const MessageMapEntry* CDialog::FindEntry(unsigned message, unsigned code, int id) const {
    for (const MessageMapEntry& e : GetMessageMap()) {
        if (e.message == message && e.code == code && e.id == id) {
            return &e;
        }
    }
    return nullptr;
}

bool CDialog::OnCommand(WParam wParam, LParam) {
    const int id = static_cast<int>(commandId(wParam));
    if (const MessageMapEntry* e = FindEntry(WM_COMMAND, commandCode(wParam), id)) {
        (this->*(e->handler))();
        return true;
    }
    if (commandCode(wParam) == BN_CLICKED && id == IDOK) {
        OnOK();
        return true;
    }
    if (commandCode(wParam) == BN_CLICKED && id == IDCANCEL) {
        OnCancel();
        return true;
    }
    CWinApp* app = AfxGetApp();
    return commandCode(wParam) == 0 && app && app->OnCmdMsg(commandId(wParam));
}

LResult CDialog::WindowProc(unsigned message, WParam wParam, LParam lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog() ? 1 : 0;
    case WM_COMMAND:
        return OnCommand(wParam, lParam) ? 1 : 0;
    case WM_SYSCOMMAND:
        if (const MessageMapEntry* e = FindEntry(WM_SYSCOMMAND, 0, 0)) {
            (this->*(e->sysCommandHandler))(static_cast<unsigned>(wParam), lParam);
            return 1;
        }
        return 0;
    case WM_PAINT:
        if (const MessageMapEntry* e = FindEntry(WM_PAINT, 0, 0)) {
            (this->*(e->handler))();
            return 1;
        }
        return 0;
    case WM_QUERYDRAGICON:
        if (const MessageMapEntry* e = FindEntry(WM_QUERYDRAGICON, 0, 0)) {
            return reinterpret_cast<LResult>((this->*(e->dragIconHandler))());
        }
        return 0;
    default:
        return 0;
    }
}

CWinApp::CWinApp(const char*) {
    g_app = this;
}
CWinApp::~CWinApp() {
    if (g_app == this) {
        g_app = nullptr;
    }
}

bool CWinApp::OnCmdMsg(unsigned id) {
    for (const AppCommandEntry& e : GetMessageMap()) {
        if (e.id == id) {
            (this->*(e.handler))();
            return true;
        }
    }
    return false;
}

CWinApp* AfxGetApp() {
    return g_app;
}

CDialog* AfxGetMainWnd() {
    return g_app ? g_app->m_pMainWnd : nullptr;
}

int AfxWinMain() {
    if (g_app) {
        g_app->InitInstance();
    }
    return 0;
}
