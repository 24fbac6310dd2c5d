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
    ReleaseChannelArray();
    m_bufferInfos = BuildChannelArray(m_numInputs, m_numOutputs);
    const ASIOError result = m_bufferInfos
                                 ? m_asio->createBuffers(m_bufferInfos, m_numInputs + m_numOutputs,
                                                         m_bufferSize, &m_callbacks)
                                 : ASE_NoMemory;
    if (result != ASE_OK) {
        // While a reset is pending the failure is expected, and the reset handling releases
        // the array.
        if (m_resetPending == 0) {
            MessageBox("ASIO Driver failed to allocate buffers", "Tarvelo", MB_ICONSTOP);
            ReleaseChannelArray();
        }
        return;
    }

    EnableControl(ctl::kAllocateBuffers, false);
    EnableControl(ctl::kStart, true);
    EnableControl(ctl::kBufferSizeList, false);
    EnableControl(ctl::kSampleRateList, false);
    EnableControl(ctl::kFreeBuffers, true);

    ASIOLong inputLatency = 0;
    ASIOLong outputLatency = 0;
    m_asio->getLatencies(&inputLatency, &outputLatency);
    SetControlText(ctl::kReportedLatencies, "in: %d out: %d", inputLatency, outputLatency);

    m_inputInfo.channel = 0;
    m_inputInfo.isInput = ASIOTrue;
    m_outputInfo.channel = 0;
    m_outputInfo.isInput = ASIOFalse;
    m_asio->getChannelInfo(&m_inputInfo);
    m_asio->getChannelInfo(&m_outputInfo);
    m_reportedInputLatency = inputLatency;
    m_reportedOutputLatency = outputLatency;
    m_sampleLayout = layoutOf(m_outputInfo.type);
    m_sampleBytes = m_sampleLayout.bytes;

    if (m_autoMeasure) {
        DispatchCommand(ctl::kStart);
    }
}

void CTarveloDlg::OnStart() {
    // Without a driver only the driver call is skipped; the controls move on as after a start.
    if (m_asio && m_asio->start() != ASE_OK) {
        MessageBox("Error starting playback/recording", "Tarvelo", MB_ICONSTOP);
        OnStop();
        OnFreeBuffers();
    } else {
        m_streamRunning = m_asio != nullptr;
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
    const bool stopped = !m_asio || m_asio->stop() == ASE_OK;
    // Whatever stop answered, the driver is asked once per start: its buffers may be gone by the
    // time the dialog quits.
    m_streamRunning = false;
    if (!stopped) {
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
    if (m_asio) {
        m_asio->disposeBuffers();
    }
    ReleaseChannelArray();
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
