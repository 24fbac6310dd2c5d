#include "app/resource_ids.h"
#include "engine/tarvelo_dlg.h"

bool CTarveloDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetStatusText("Initialization... Enumerating ASIO drivers...");

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
        for (const char* level : {"-24 dB", "-18 dB", "-12 dB", "-6 dB"}) {
            sensitivity->AddString(level);
        }
        sensitivity->SetCurSel(2);
    }
    m_sensitivity = 2;
    return true;
}
