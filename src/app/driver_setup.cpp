#include "app/resource_ids.h"
#include "app/tarvelo_dlg.h"
#include "engine/buffer_sizes.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr ASIOSampleRate kCandidateRates[] = {22050, 32000, 44100, 48000, 96000, 192000, 0};
constexpr std::int32_t kPreviewChannels = 2;

std::int32_t atMost(std::int32_t count, std::int32_t limit) {
    return count > limit ? limit : count;
}
std::int32_t atLeastZero(std::int32_t count) {
    return count < 0 ? 0 : count;
}

} // namespace

void CTarveloDlg::OnSelchangeDriver() {
    m_opening = true;
    OpenSelectedDriver();
    m_opening = false;
    // A reset the driver asked for while it was being opened (from inside its control panel,
    // say) is handled now that the open sequence is out of the driver, once.
    if (m_resetDeferred) {
        m_resetDeferred = false;
        PostMessage(WM_COMMAND, ID_RESET_REQUEST, 0);
    }
}

void CTarveloDlg::OpenSelectedDriver() {
    SetStatusText("Initializing ASIO driver...");
    CWnd* driverList = GetDlgItem(ctl::kDriverList);
    const int sel = driverList ? driverList->GetCurSel() : -1;
    EnableControl(ctl::kDriverList, false);

    // The probe: preview buffers for at most two channels each way, and the control panel.
    if (!OpenAndInit(sel)) {
        return;
    }
    ASIOLong inputs = 0;
    ASIOLong outputs = 0;
    m_asio->getChannels(&inputs, &outputs);
    m_numInputs = atMost(atLeastZero(inputs), kPreviewChannels);
    m_numOutputs = atMost(atLeastZero(outputs), kPreviewChannels);
    m_callbacks = {BufferSwitchCallback, SampleRateDidChangeCallback, AsioMessageCallback,
                   BufferSwitchTimeInfoCallback};
    ReadBufferSizes();
    if (m_preferredSize < m_minSize) {
        m_preferredSize = m_minSize;
    }
    if (m_preferredSize > m_maxSize) {
        m_preferredSize = m_maxSize;
    }
    m_bufferInfos = BuildChannelArray(m_numInputs, m_numOutputs);
    if (!m_bufferInfos) {
        FailOpen(sel);
        return;
    }
    m_asio->createBuffers(m_bufferInfos, m_numInputs + m_numOutputs, m_preferredSize, &m_callbacks);
    m_asio->controlPanel();
    m_asio->disposeBuffers();
    m_drivers.CloseDriver(sel);
    m_asio = nullptr;
    ReleaseChannelArray();

    // The driver for use, with its full channel counts.
    if (!OpenAndInit(sel)) {
        return;
    }
    ASIOSampleRate rate = 0.0;
    m_asio->getSampleRate(&rate);
    m_measurement.setSampleRate(rate);
    ReadBufferSizes();
    m_bufferSize = m_preferredSize;
    FillSampleRates();
    inputs = 0;
    outputs = 0;
    m_asio->getChannels(&inputs, &outputs);
    m_numInputs = atLeastZero(inputs);
    m_numOutputs = atLeastZero(outputs);
    SetControlText(ctl::kInputsField, "%d", m_numInputs);
    SetControlText(ctl::kOutputsField, "%d", m_numOutputs);
    FillBufferSizes();
    EnableControl(ctl::kAllocateBuffers, true);
    if (m_autoMeasure) {
        EnableControl(ctl::kMeasure, true);
    }
    m_driverIndex = sel;
    SetStatusText("Please set corresponding driver options\r\nand click 'Measure!' to measure the "
                  "latency");
}

bool CTarveloDlg::OpenAndInit(int sel) {
    IASIO* driver = nullptr;
    if (m_drivers.OpenDriver(sel, &driver) != 0) {
        FailOpen(sel);
        return false;
    }
    m_asio = driver;
    if (m_asio->init(&m_sysHandleWord) != ASIOTrue) {
        FailOpen(sel);
        return false;
    }
    return true;
}

void CTarveloDlg::FailOpen(int sel) {
    // A driver that was created but could not be initialised is released again, so that
    // picking it once more starts afresh instead of finding it already open.
    if (m_asio) {
        m_drivers.CloseDriver(sel);
        m_asio = nullptr;
    }
    ReleaseChannelArray();
    MessageBox("Error instantiating ASIO driver", "Tarvelo", MB_ICONSTOP);
    EnableControl(ctl::kDriverList, true);
}

void CTarveloDlg::ReadBufferSizes() {
    ASIOLong minSize = 0;
    ASIOLong maxSize = 0;
    ASIOLong preferred = 0;
    ASIOLong granularity = 0;
    m_asio->getBufferSize(&minSize, &maxSize, &preferred, &granularity);
    m_minSize = minSize;
    m_maxSize = maxSize;
    m_preferredSize = preferred;
    m_granularity = granularity;
}

void CTarveloDlg::FillSampleRates() {
    CWnd* list = GetDlgItem(ctl::kSampleRateList);
    if (!list || !m_asio) {
        return;
    }
    list->ResetContent();
    const ASIOSampleRate current = m_measurement.sampleRate();
    for (const ASIOSampleRate* rate = kCandidateRates; *rate != 0; ++rate) {
        if (m_asio->canSampleRate(*rate) != ASE_OK) {
            continue;
        }
        char text[64];
        std::snprintf(text, sizeof text, "%.0f Hz", *rate);
        const int index = list->AddString(text);
        if (*rate == current) {
            list->SetCurSel(index);
        }
        list->SetItemData(index, static_cast<std::uint32_t>(static_cast<std::int32_t>(*rate)));
    }
    list->EnableWindow(true);
}

void CTarveloDlg::FillBufferSizes() {
    CWnd* list = GetDlgItem(ctl::kBufferSizeList);
    if (!list || !m_asio) {
        return;
    }
    ReadBufferSizes();
    list->ResetContent();
    const ASIOSampleRate rate = m_measurement.sampleRate();
    const bool showTime = std::isfinite(rate) && rate > 0;
    for (BufferSizeWalk walk(m_minSize, m_maxSize, m_granularity); !walk.done(); walk.next()) {
        char text[64];
        if (showTime) {
            std::snprintf(text, sizeof text, "%d samples (%.2fms)", walk.size(),
                          walk.size() * 1000.0 / rate);
        } else {
            std::snprintf(text, sizeof text, "%d samples", walk.size());
        }
        const int index = list->AddString(text);
        if (walk.size() == m_bufferSize) {
            list->SetCurSel(index);
        }
    }
    list->EnableWindow(true);
}

void CTarveloDlg::OnSelchangeBufferSize() {
    CWnd* list = GetDlgItem(ctl::kBufferSizeList);
    int position = list ? list->GetCurSel() : -1;
    if (position < 0) {
        return;
    }
    for (BufferSizeWalk walk(m_minSize, m_maxSize, m_granularity); !walk.done(); walk.next()) {
        if (position-- == 0) {
            m_bufferSize = walk.size();
            return;
        }
    }
}

void CTarveloDlg::OnSelchangeSampleRate() {
    CWnd* list = GetDlgItem(ctl::kSampleRateList);
    const int index = list ? list->GetCurSel() : -1;
    if (index < 0 || !m_asio) {
        return;
    }
    const ASIOSampleRate rate = static_cast<double>(list->GetItemData(index));
    if (m_asio->setSampleRate(rate) != ASE_OK) {
        return;
    }
    m_measurement.setSampleRate(rate);
    FillSampleRates();
    FillBufferSizes();
}

void CTarveloDlg::OnResetRequest() {
    if (m_opening) {
        m_resetDeferred = true;
        return;
    }
    m_resetPending = 0;
    ++m_resetsHandled;
    CWnd* driverList = GetDlgItem(ctl::kDriverList);
    const int sel = driverList ? driverList->GetCurSel() : -1;
    if (m_asio) {
        m_measurement.disarm();
        m_awaitingResult = false;
        m_asio->stop();
        m_streamRunning = false;
        // A driver may return from stop while a buffer switch is still running on its thread:
        // nothing is freed before that switch has left the dialog.
        QuiesceCallbacks();
        m_asio->disposeBuffers();
        m_drivers.CloseDriver(sel);
        m_asio = nullptr;
    }
    ReleaseChannelArray();
    OnSelchangeDriver();
}
