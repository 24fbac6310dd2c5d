#include "app/tarvelo_dlg.h"

#include "app/dialog_templates.h"
#include "app/resource_ids.h"

CTarveloDlg* g_pMainDlg = nullptr;

CTarveloDlg::CTarveloDlg(CDialog* parent)
    : CDialog(kMainDialogTemplate, parent)
    , m_hIcon(LoadAppIcon(IDR_MAINFRAME)) {
    g_pMainDlg = this;
    m_autoMeasure = 1;
}

CTarveloDlg::~CTarveloDlg() {
    // A user may quit while the stream runs: the session stops it, waits for the callbacks in
    // flight and disposes of the buffers before the driver is closed, while the dialog the
    // callbacks post to is still whole.
    m_session.close();
}

bool CTarveloDlg::OnCommand(WParam wParam, LParam lParam) {
    // A reset request handed over by a message loop in the middle of another command waits
    // until that command is done: the driver is not torn down under it.
    if (wParam == ID_RESET_REQUEST && m_session.holdingEvents()) {
        m_session.deliverAfterHold({.kind = SessionEventKind::ResetRequest});
        return true;
    }
    const MeasurementSession::EventHold hold = m_session.holdEvents();
    if (wParam == ID_RESULT) {
        OnResult();
        return false;
    }
    if (wParam == ID_RESET_REQUEST) {
        OnResetRequest();
    }
    return CDialog::OnCommand(wParam, lParam);
}

std::span<const MessageMapEntry> CTarveloDlg::GetMessageMap() const {
    static const MessageMapEntry kMap[] = {
        MapSysCommand(&CTarveloDlg::OnSysCommand),
        MapPaint(&CTarveloDlg::OnPaint),
        MapQueryDragIcon(&CTarveloDlg::OnQueryDragIcon),
        MapCbnSelchange(ctl::kDriverList, &CTarveloDlg::OnSelchangeDriver),
        MapBnClicked(ctl::kAllocateBuffers, &CTarveloDlg::OnAllocateBuffers),
        MapCbnSelchange(ctl::kBufferSizeList, &CTarveloDlg::OnSelchangeBufferSize),
        MapCbnSelchange(ctl::kSensitivityList, &CTarveloDlg::OnSelchangeSensitivity),
        MapBnClicked(ctl::kStart, &CTarveloDlg::OnStart),
        MapBnClicked(ctl::kStop, &CTarveloDlg::OnStop),
        MapCbnSelchange(ctl::kSampleRateList, &CTarveloDlg::OnSelchangeSampleRate),
        MapBnClicked(ctl::kMeasureLatency, &CTarveloDlg::OnMeasureLatency),
        MapBnClicked(ctl::kFreeBuffers, &CTarveloDlg::OnFreeBuffers),
        MapBnClicked(ctl::kMeasure, &CTarveloDlg::OnMeasure),
        MapBnClicked(ctl::kVisitWeb, &CTarveloDlg::OnVisitWeb),
        MapBnClicked(ctl::kHelp, &CTarveloDlg::OnHelpButton),
    };
    return kMap;
}
