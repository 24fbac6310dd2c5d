// The dialog's side of the session's events. The session calls them on the thread the driver
// called back on (its own, or the user-interface thread once a call the dialog made has
// returned); they reach the dialog only through g_pMainDlg, and only by posting to its window.

#include "app/resource_ids.h"
#include "app/tarvelo_dlg.h"

#include <cstdio>

void DialogEvents::announce(const SessionEvent& event) {
    switch (event.kind) {
    case SessionEventKind::ResetRequest:
        ShowMessageBox("The driver requested ASIO reset", "Tarvelo", MB_ICONINFORMATION);
        break;
    case SessionEventKind::RateChange: {
        char text[64];
        std::snprintf(text, sizeof text, "Sample rate has changed: %.0f", event.sampleRate);
        ShowMessageBox(text, "Tarvelo", MB_ICONINFORMATION);
        break;
    }
    case SessionEventKind::Result:
    case SessionEventKind::DriverFailure:
        break;
    }
}

void DialogEvents::post(const SessionEvent& event) {
    if (!g_pMainDlg) {
        return;
    }
    switch (event.kind) {
    case SessionEventKind::Result:
        // The parameter is the latency in whole samples, 0 for none; the handler collects the
        // typed result from the session itself.
        g_pMainDlg->PostMessage(WM_COMMAND, ID_RESULT, static_cast<LParam>(event.wholeSamples));
        break;
    case SessionEventKind::ResetRequest:
        g_pMainDlg->PostMessage(WM_COMMAND, ID_RESET_REQUEST, 0);
        break;
    case SessionEventKind::RateChange:
    case SessionEventKind::DriverFailure:
        break;
    }
}
