// The four callbacks the host hands to the driver. The driver calls them on a thread of its own
// choosing; each enters the callback gate before it touches the dialog, so none reaches a dialog
// that is going away or a driver that is being released.

#include "app/callback_gate.h"
#include "app/resource_ids.h"
#include "app/tarvelo_dlg.h"

#include <cstdio>

CTarveloDlg* g_pMainDlg = nullptr;

void CTarveloDlg::QuiesceCallbacks() {
    if (g_pMainDlg == this) {
        MainDialogGate().closeAndWait();
        MainDialogGate().open();
    }
}

void BufferSwitchCallback(ASIOLong doubleBufferIndex, ASIOBool) {
    CallbackScope scope;
    if (scope && g_pMainDlg) {
        g_pMainDlg->OnBufferSwitch(doubleBufferIndex);
    }
}

ASIOTime* BufferSwitchTimeInfoCallback(ASIOTime*, ASIOLong, ASIOBool) {
    return nullptr;
}

void SampleRateDidChangeCallback(ASIOSampleRate sRate) {
    CallbackScope scope;
    if (!scope || !g_pMainDlg) {
        return;
    }
    char text[64];
    std::snprintf(text, sizeof text, "Sample rate has changed: %.0f", sRate);
    g_pMainDlg->m_measurement.setSampleRate(sRate);
    ShowMessageBox(text, "Tarvelo", MB_ICONINFORMATION);
}

ASIOLong AsioMessageCallback(ASIOLong selector, ASIOLong value, void*, double*) {
    switch (selector) {
    case kAsioSelectorSupported:
        return value == kAsioEngineVersion || value == kAsioResetRequest ? 1 : 0;
    case kAsioEngineVersion:
        return 2;
    case kAsioResetRequest: {
        CallbackScope scope;
        if (scope && g_pMainDlg) {
            ShowMessageBox("The driver requested ASIO reset", "Tarvelo", MB_ICONINFORMATION);
            g_pMainDlg->m_resetPending = 1;
            g_pMainDlg->PostMessage(WM_COMMAND, ID_RESET_REQUEST, 0);
        }
        return 1;
    }
    default:
        return 0;
    }
}
