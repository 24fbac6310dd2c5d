// Arming the measurement and showing its result: the dialog's side of the measurement.

#include "app/resource_ids.h"
#include "app/tarvelo_dlg.h"
#include "asio/sample_types.h"

void CTarveloDlg::OnMeasureLatency() {
    SetStatusText("Measuring... Please wait");
    EnableControl(ctl::kMeasureLatency, false);

    // Nothing is written to the driver's buffers unless the measurement can run: a pulse in a
    // format we cannot encode would only measure garbage.
    switch (m_session.arm()) {
    case ArmRefusal::None:
        return;
    case ArmRefusal::NoBuffers:
        SetStatusText("Can not measure the latency.\r\nNo driver buffers are allocated");
        break;
    case ArmRefusal::StreamStopped:
        SetStatusText("Can not measure the latency.\r\nThe driver's stream is not started");
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
    case ArmRefusal::ChannelUndescribed:
        SetStatusText("Can not measure the latency.\r\nThe driver would not describe\r\n"
                      "its channels");
        break;
    }
    EndMeasurement();
}

void CTarveloDlg::OnSelchangeSensitivity() {
    if (CWnd* list = GetDlgItem(ctl::kSensitivityList)) {
        m_session.measurement().setSensitivity(list->GetCurSel());
    }
}

void CTarveloDlg::OnResult() {
    // A result posted before a reset tore its measurement down belongs to a driver that is gone,
    // and one posted by a measurement that a re-arm has already replaced is stale: the session
    // has nothing to collect for either, and acting on them would stop and free the new one.
    const std::optional<MeasurementResult> result = m_session.collectResult();
    if (!result) {
        return;
    }
    if (!result->latencySamples) {
        SetStatusText("Can not measure the latency.\r\nPlease check your connections and\r\n"
                      "verify if input/output levels match");
    } else {
        SetStatusText("Measurement results: %d samples / %.2f ms",
                      static_cast<int>(*result->latencySamples), result->latencyMs().value_or(0));
    }
    EndMeasurement();
}

void CTarveloDlg::EndMeasurement() {
    EnableControl(ctl::kMeasureLatency, true);
    if (m_autoMeasure) {
        DispatchCommand(ctl::kStop);
    }
}
