#include "app/about_dlg.h"
#include "app/dialog_templates.h"
#include "app/resource_ids.h"
#include "app/tarvelo_dlg.h"
#include "engine/sensitivity.h"

#include <string>

namespace {

// Where an icon of `iconExtent` starts so that it sits centred in `clientExtent`. The division
// truncates toward zero: a client width of 0 puts a 32-pixel icon at -15, not -16.
int centredIconOrigin(int clientExtent, int iconExtent) {
    return (clientExtent - iconExtent + 1) / 2;
}

} // namespace

bool CTarveloDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetStatusText("Initialization... Enumerating ASIO drivers...");

    if (CMenu* systemMenu = GetSystemMenu()) {
        const std::string aboutEntry = LoadResourceString(IDS_ABOUTBOX);
        if (!aboutEntry.empty()) {
            systemMenu->AppendMenu(MF_SEPARATOR);
            systemMenu->AppendMenu(MF_STRING, ID_SYSMENU_ABOUT, aboutEntry.c_str());
        }
    }
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LParam>(m_hIcon));

    if (CWnd* drivers = GetDlgItem(ctl::kDriverList)) {
        const int count = m_drivers.GetCount();
        for (int index = 0; index < count; ++index) {
            char name[64];
            if (m_drivers.CopyName(index, name, sizeof name) == 0) {
                drivers->AddString(name);
            }
        }
        drivers->SetCurSel(drivers->AddString("--- Select Driver ---"));
    }
    SetStatusText("Please select ASIO driver");

    if (CWnd* sensitivity = GetDlgItem(ctl::kSensitivityList)) {
        sensitivity->ResetContent();
        for (const SensitivityLevel& level : kSensitivityLevels) {
            sensitivity->AddString(std::string(level.listText).c_str());
        }
        sensitivity->SetCurSel(kDefaultSensitivity);
    }
    m_session.measurement().setSensitivity(kDefaultSensitivity);
    return true;
}

// The system may set the low four bits of a command, so they are ignored in the comparison.
void CTarveloDlg::OnSysCommand(unsigned command, LParam lParam) {
    if ((command & 0xFFF0u) == ID_SYSMENU_ABOUT) {
        CAboutDlg about;
        about.DoModal();
    } else {
        DefWindowProc(WM_SYSCOMMAND, command, lParam);
    }
}

void CTarveloDlg::OnPaint() {
    if (!IsIconic()) {
        DefWindowProc(WM_PAINT, 0, 0);
        return;
    }
    CPaintDC dc(*this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WParam>(dc.GetSafeHdc()), 0);
    const CRect client = GetClientRect();
    dc.DrawIcon(centredIconOrigin(client.Width(), SystemMetric(SM_CXICON)),
                centredIconOrigin(client.Height(), SystemMetric(SM_CYICON)), m_hIcon);
}

void* CTarveloDlg::OnQueryDragIcon() {
    return m_hIcon;
}

void CTarveloDlg::OnHelpButton() {
    OnSysCommand(ID_SYSMENU_ABOUT, 0);
}

// Shown minimised and without taking the activation, so the program keeps the foreground. A
// failure to open the page is not reported.
void CTarveloDlg::OnVisitWeb() {
    ShellExecuteOperation(nullptr, "open", kMakerWebAddress, nullptr, nullptr, SW_SHOWMINNOACTIVE);
}
