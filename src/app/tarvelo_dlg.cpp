#include "app/tarvelo_dlg.h"

#include "app/callback_gate.h"
#include "app/dialog_templates.h"
#include "app/resource_ids.h"

CTarveloDlg::CTarveloDlg(CDialog* parent)
    : CDialog(kMainDialogTemplate, parent)
    , m_hIcon(LoadAppIcon(IDR_MAINFRAME)) {
    g_pMainDlg = this;
    MainDialogGate().open();
    m_inputInfo = {};
    m_outputInfo = {};
    m_autoMeasure = 1;
}

CTarveloDlg::~CTarveloDlg() {
    // A user may quit while the stream runs: no callback may reach the dialog from here on,
    // and the stream is stopped before its buffers are disposed of. (Callbacks only ever reach
    // the newest dialog, so an older one being destroyed leaves the gate alone.)
    if (g_pMainDlg == this) {
        MainDialogGate().closeAndWait();
    }
    if (m_asio && m_streamRunning) {
        m_asio->stop();
        m_streamRunning = false;
    }
    if (m_bufferInfos) {
        if (m_asio) {
            m_asio->disposeBuffers();
        }
        ReleaseChannelArray();
    }
    if (m_driverIndex != -1) {
        m_drivers.CloseDriver(m_driverIndex);
    }
    m_asio = nullptr;
}

bool CTarveloDlg::OnCommand(WParam wParam, LParam lParam) {
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
