// The Measure! chain: each step a command handler over one step of the session.

#include "app/resource_ids.h"
#include "app/tarvelo_dlg.h"

void CTarveloDlg::OnMeasure() {
    EnableControl(ctl::kMeasure, false);
    m_autoMeasure = 1;
    DispatchCommand(ctl::kAllocateBuffers);
}

void CTarveloDlg::OnAllocateBuffers() {
    if (!m_asio) {
        // Only a reset whose re-open failed leaves the dialog here; the driver list is
        // enabled again for a new pick.
        MessageBox("No ASIO driver is open.\r\nPlease select a driver again", "Tarvelo",
                   MB_ICONSTOP);
        return;
    }
    if (m_session.prepare() != ASE_OK) {
        // While a reset is pending the failure is expected, and the reset handling follows.
        if (m_resetPending == 0) {
            MessageBox("ASIO Driver failed to allocate buffers", "Tarvelo", MB_ICONSTOP);
        }
        // The chain ends here, as it ends after Free Buffers: Measure! comes back for another
        // buffer size or rate, which the lists still offer.
        if (m_autoMeasure) {
            EnableControl(ctl::kMeasure, true);
            m_autoMeasure = 0;
        }
        return;
    }

    EnableControl(ctl::kAllocateBuffers, false);
    EnableControl(ctl::kStart, true);
    EnableControl(ctl::kBufferSizeList, false);
    EnableControl(ctl::kSampleRateList, false);
    EnableControl(ctl::kFreeBuffers, true);
    SetControlText(ctl::kReportedLatencies, "in: %d out: %d", m_session.reportedInputLatency(),
                   m_session.reportedOutputLatency());

    if (m_autoMeasure) {
        DispatchCommand(ctl::kStart);
    }
}

void CTarveloDlg::OnStart() {
    // Without a driver only the driver call is skipped; the controls move on as after a start.
    if (m_asio && m_session.start() != ASE_OK) {
        MessageBox("Error starting playback/recording", "Tarvelo", MB_ICONSTOP);
        OnStop();
        OnFreeBuffers();
    } else {
        EnableControl(ctl::kStart, false);
        EnableControl(ctl::kFreeBuffers, false);
        EnableControl(ctl::kStop, true);
        EnableControl(ctl::kMeasureLatency, true);
    }
    if (m_autoMeasure) {
        DispatchCommand(ctl::kMeasureLatency);
    }
}

void CTarveloDlg::OnStop() {
    if (m_asio && m_session.stop() != ASE_OK) {
        MessageBox("Error stopping playback/recording", "Tarvelo", MB_ICONSTOP);
    } else {
        EnableControl(ctl::kStart, true);
        EnableControl(ctl::kFreeBuffers, true);
        EnableControl(ctl::kStop, false);
        EnableControl(ctl::kMeasureLatency, false);
    }
    if (m_autoMeasure) {
        DispatchCommand(ctl::kFreeBuffers);
    }
}

void CTarveloDlg::OnFreeBuffers() {
    m_session.disposeBuffers();
    EnableControl(ctl::kFreeBuffers, false);
    EnableControl(ctl::kStart, false);
    EnableControl(ctl::kAllocateBuffers, true);
    EnableControl(ctl::kBufferSizeList, true);
    EnableControl(ctl::kSampleRateList, true);
    if (m_autoMeasure) {
        EnableControl(ctl::kMeasure, true);
        m_autoMeasure = 0;
    }
}
