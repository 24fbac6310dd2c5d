#include "app/tarvelo_app.h"

#include "app/tarvelo_dlg.h"

CTarveloApp theApp;

std::span<const AppCommandEntry> CTarveloApp::GetMessageMap() const {
    static const AppCommandEntry kMap[] = {
        {ID_HELP, &CWinApp::OnHelp},
    };
    return kMap;
}

bool CTarveloApp::InitInstance() {
    CTarveloDlg dlg; // the registry scan runs here
    m_pMainWnd = &dlg;
    dlg.DoModal(); // which button closed it does not matter, nor whether the run failed
    // The dialog is gone with this scope; nothing may reach it as the main window afterwards.
    m_pMainWnd = nullptr;
    return false;
}
