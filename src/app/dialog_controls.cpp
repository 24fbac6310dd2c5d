// The main dialog's small tools that every handler uses: the status text, control states and
// texts, and dispatching a step of the chain.

#include "app/resource_ids.h"
#include "app/tarvelo_dlg.h"

#include <cstdarg>
#include <cstdio>

void CTarveloDlg::SetStatusText(const char* format, ...) {
    char text[2048];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length <= 0) {
        return;
    }
    if (CWnd* status = GetDlgItem(ctl::kStatus)) {
        status->SetWindowText(text);
    }
    DebugOutput(text);
}

void CTarveloDlg::EnableControl(int id, bool enable) {
    if (CWnd* control = GetDlgItem(id)) {
        control->EnableWindow(enable);
    }
}

void CTarveloDlg::SetControlText(int id, const char* format, ...) {
    char text[64];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (CWnd* control = GetDlgItem(id)) {
        control->SetWindowText(text);
    }
}

void CTarveloDlg::DispatchCommand(int id) {
    SendMessage(WM_COMMAND, makeCommandWParam(static_cast<unsigned>(id), BN_CLICKED), 0);
}
