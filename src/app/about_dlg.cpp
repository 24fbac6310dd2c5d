#include "app/about_dlg.h"

#include "app/dialog_templates.h"
#include "app/resource_ids.h"

CAboutDlg::CAboutDlg()
    : CDialog(kAboutDialogTemplate) {}

std::span<const MessageMapEntry> CAboutDlg::GetMessageMap() const {
    static const MessageMapEntry kMap[] = {
        MapBnClicked(ctl::kVisitWeb, &CAboutDlg::OnVisitWeb),
    };
    return kMap;
}

bool CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    if (CWnd* text = GetDlgItem(ctl::kInstructionText)) {
        text->SetWindowText(kInstructionText);
    }
    return true;
}

// The main window opens the page. The send is synchronous, so the page has been asked for by the
// time this click's handling ends.
void CAboutDlg::OnVisitWeb() {
    if (CDialog* mainWindow = AfxGetMainWnd()) {
        mainWindow->SendMessage(
            WM_COMMAND, makeCommandWParam(static_cast<unsigned>(ctl::kVisitWeb), BN_CLICKED), 0);
    }
}
