#include "app/resource_ids.h"
#include "engine/callback_gate.h"
#include "engine/pulse_signal.h"
#include "engine/tarvelo_dlg.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

// The time limit compares against the rate truncated toward zero; a rate that has no 32-bit
// value (not a number, out of range) must not make that conversion undefined.
std::int64_t truncatedRate(ASIOSampleRate rate) {
    if (!(rate > 0)) {
        return 0;
    }
    if (rate >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int64_t>(rate);
}

void postResult(CTarveloDlg& dlg, std::int64_t samples) {
    dlg.PostMessage(WM_COMMAND, ID_RESULT, static_cast<LParam>(samples));
}

} // namespace

void CTarveloDlg::OnMeasureLatency() {
    SetStatusText("Measuring... Please wait");
    EnableControl(ctl::kMeasureLatency, false);

    if (!m_bufferInfos || m_sampleLayout.encoding == SampleEncoding::Unsupported) {
        // Writing a pulse in a format we cannot encode would only measure garbage, and
        // without buffers there is nothing to write to: say so and end the measurement.
        const char* name = describeSampleType(m_outputInfo.type);
        if (!m_bufferInfos) {
            SetStatusText("Can not measure the latency.\r\nNo driver buffers are allocated");
        } else if (name) {
            SetStatusText("Can not measure the latency.\r\nThe driver's sample format %s\r\n"
                          "is not supported",
                          name);
        } else {
            SetStatusText("Can not measure the latency.\r\nThe driver's sample format (type "
                          "%d)\r\nis not supported",
                          static_cast<int>(m_outputInfo.type));
        }
        EndMeasurement();
        return;
    }

    m_awaitingResult = true;
    m_switchCount.store(0, std::memory_order_relaxed);
    m_measuring.store(1, std::memory_order_release);
}

void CTarveloDlg::OnSelchangeSensitivity() {
    if (CWnd* list = GetDlgItem(ctl::kSensitivityList)) {
        m_sensitivity.store(list->GetCurSel(), std::memory_order_relaxed);
    }
}

void CTarveloDlg::OnResult(std::int32_t samples) {
    // A result posted just before a reset tore its measurement down belongs to a driver that
    // is gone; acting on it would stop and free the new one.
    if (!m_awaitingResult) {
        return;
    }
    m_awaitingResult = false;
    if (samples == 0) {
        SetStatusText("Can not measure the latency.\r\nPlease check your connections and\r\n"
                      "verify if input/output levels match");
    } else {
        SetStatusText("Measurement results: %d samples / %.2f ms", samples,
                      samples * 1000.0 / m_sampleRate.load(std::memory_order_relaxed));
    }
    EndMeasurement();
}

void CTarveloDlg::EndMeasurement() {
    EnableControl(ctl::kMeasureLatency, true);
    if (m_autoMeasure) {
        DispatchCommand(ctl::kStop);
    }
}

void BufferSwitchCallback(ASIOLong doubleBufferIndex, ASIOBool) {
    CallbackScope scope;
    CTarveloDlg* dlg = g_pMainDlg;
    if (!scope || !dlg || dlg->m_measuring.load(std::memory_order_acquire) == 0) {
        return;
    }
    const std::int32_t count = dlg->m_switchCount.load(std::memory_order_relaxed);
    const std::int32_t frames = dlg->m_bufferSize;
    const std::int32_t numInputs = dlg->m_numInputs;
    const std::int32_t numOutputs = dlg->m_numOutputs;
    const SampleLayout layout = dlg->m_sampleLayout;
    ASIOBufferInfo* const channels = dlg->m_bufferInfos;
    IASIO* const asio = dlg->m_asio;
    const int half = doubleBufferIndex == 0 ? 0 : 1;

    const auto halfBytes =
        static_cast<std::size_t>(frames) * static_cast<std::size_t>(dlg->m_sampleBytes);
    if (count == 0) {
        // Every buffer starts the measurement silent. The clearing is done here, on the
        // driver's thread between its own buffer work, rather than when the measurement is
        // armed: the driver reads and writes these buffers while the stream runs.
        for (std::int32_t c = 0; c < numInputs + numOutputs; ++c) {
            for (void* buffer : channels[c].buffers) {
                std::memset(buffer, 0, halfBytes);
            }
        }
        for (std::int32_t k = 0; k < numOutputs; ++k) {
            writePulse(channels[numInputs + k].buffers[half], frames, layout);
        }
    } else if (count == 2) {
        for (std::int32_t k = 0; k < numOutputs; ++k) {
            std::memset(channels[numInputs + k].buffers[half], 0, halfBytes);
        }
    }

    bool found = false;
    if (count >= 1) {
        const std::int32_t threshold =
            thresholdForSensitivity(dlg->m_sensitivity.load(std::memory_order_relaxed));
        for (std::int32_t i = 0; i < numInputs && !found; ++i) {
            const std::int32_t at =
                findFirstAbove(channels[i].buffers[half], frames, layout, threshold);
            if (at >= 0) {
                found = true;
                dlg->m_measuring.store(0, std::memory_order_release);
                postResult(*dlg, std::int64_t{count} * frames + at);
            }
        }
    }

    const std::int32_t handled = count + 1;
    dlg->m_switchCount.store(handled, std::memory_order_relaxed);
    if (!found && std::int64_t{handled} * frames >
                      truncatedRate(dlg->m_sampleRate.load(std::memory_order_relaxed))) {
        dlg->m_measuring.store(0, std::memory_order_release);
        dlg->m_switchCount.store(0, std::memory_order_relaxed);
        postResult(*dlg, 0);
    }

    if (asio) {
        asio->outputReady();
    }
}

ASIOTime* BufferSwitchTimeInfoCallback(ASIOTime*, ASIOLong, ASIOBool) {
    return nullptr;
}
