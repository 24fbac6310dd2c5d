// Arming the measurement and showing its result: the dialog's side of the measurement.

#include "app/resource_ids.h"
#include "app/tarvelo_dlg.h"
#include "asio/sample_types.h"

void CTarveloDlg::OnMeasureLatency() {
    SetStatusText("Measuring... Please wait");
    EnableControl(ctl::kMeasureLatency, false);

    const StreamSnapshot stream = CurrentStream();
    // Nothing is written to the driver's buffers unless the measurement can run: a pulse in a
    // format we cannot encode would only measure garbage.
    switch (m_measurement.arm(stream)) {
    case ArmRefusal::None:
        m_awaitingResult = true;
        return;
    case ArmRefusal::NoBuffers:
        SetStatusText("Can not measure the latency.\r\nNo driver buffers are allocated");
        break;
    case ArmRefusal::NoOutputChannel:
        SetStatusText("Can not measure the latency.\r\nThe driver has no output channel");
        break;
    case ArmRefusal::NoInputChannel:
        SetStatusText("Can not measure the latency.\r\nThe driver has no input channel");
        break;
    case ArmRefusal::UnsupportedFormat:
        if (const char* name = describeSampleType(m_outputInfo.type)) {
            SetStatusText("Can not measure the latency.\r\nThe driver's sample format %s\r\n"
                          "is not supported",
                          name);
        } else {
            SetStatusText("Can not measure the latency.\r\nThe driver's sample format (type "
                          "%d)\r\nis not supported",
                          static_cast<int>(m_outputInfo.type));
        }
        break;
    case ArmRefusal::SampleRateOutOfRange:
        SetStatusText("Can not measure the latency.\r\nThe driver's sample rate is not\r\n"
                      "between 1 kHz and 1 MHz");
        break;
    case ArmRefusal::BufferSizeOutOfRange:
        SetStatusText("Can not measure the latency.\r\nThe driver's buffer size %d\r\n"
                      "is not usable",
                      static_cast<int>(m_bufferSize));
        break;
    case ArmRefusal::TooManyChannels:
        SetStatusText("Can not measure the latency.\r\nThe driver has too many channels");
        break;
    case ArmRefusal::RecordingTooLarge:
        SetStatusText("Can not measure the latency.\r\nIts recording would need\r\n"
                      "too much memory");
        break;
    }
    EndMeasurement();
}

StreamSnapshot CTarveloDlg::CurrentStream() const {
    return {m_bufferInfos,          m_numInputs,    m_numOutputs,
            m_bufferSize,           m_sampleLayout, m_reportedInputLatency,
            m_reportedOutputLatency};
}

void CTarveloDlg::OnSelchangeSensitivity() {
    if (CWnd* list = GetDlgItem(ctl::kSensitivityList)) {
        m_measurement.setSensitivity(list->GetCurSel());
    }
}

void CTarveloDlg::OnBufferSwitch(ASIOLong doubleBufferIndex) {
    const SwitchOutcome outcome = m_measurement.onBufferSwitch(doubleBufferIndex);
    if (outcome == SwitchOutcome::Unarmed) {
        return;
    }
    if (outcome == SwitchOutcome::Ended) {
        // The parameter is the latency in whole samples, 0 for none; the handler reads the
        // typed result itself.
        PostMessage(WM_COMMAND, ID_RESULT, static_cast<LParam>(m_measurement.endedWholeSamples()));
    }
    if (m_asio) {
        m_asio->outputReady();
    }
}

void CTarveloDlg::OnResult() {
    // A result posted before a reset tore its measurement down belongs to a driver that is gone,
    // and one posted by a measurement that a re-arm has already replaced is stale: acting on
    // either would show another measurement's result or stop and free the new driver.
    if (!m_awaitingResult || m_measurement.armed()) {
        return;
    }
    m_awaitingResult = false;
    m_lastResult = m_measurement.result();
    const std::optional<double> samples = m_lastResult->latencySamples;
    if (!samples) {
        SetStatusText("Can not measure the latency.\r\nPlease check your connections and\r\n"
                      "verify if input/output levels match");
    } else {
        SetStatusText("Measurement results: %d samples / %.2f ms", static_cast<int>(*samples),
                      m_lastResult->latencyMs().value_or(0));
    }
    EndMeasurement();
}

void CTarveloDlg::EndMeasurement() {
    EnableControl(ctl::kMeasureLatency, true);
    if (m_autoMeasure) {
        DispatchCommand(ctl::kStop);
    }
}
