// Opening the driver picked in the list and setting it up: the session makes the driver calls,
// the dialog shows their outcome in its lists, fields and messages.

#include "app/resource_ids.h"
#include "app/tarvelo_dlg.h"

#include <cmath>
#include <cstdio>

void CTarveloDlg::OnSelchangeDriver() {
    SetStatusText("Initializing ASIO driver...");
    CWnd* driverList = GetDlgItem(ctl::kDriverList);
    const int sel = driverList ? driverList->GetCurSel() : -1;
    EnableControl(ctl::kDriverList, false);

    // The probe shows the driver's control panel on buffers for a few channels; then the driver
    // is opened for use, with its full channel counts.
    if (m_session.probe(sel) != OpenResult::Opened || m_session.open(sel) != OpenResult::Opened) {
        FailOpen();
        return;
    }
    FillSampleRates();
    SetControlText(ctl::kInputsField, "%d", m_numInputs);
    SetControlText(ctl::kOutputsField, "%d", m_numOutputs);
    FillBufferSizes();
    EnableControl(ctl::kAllocateBuffers, true);
    if (m_autoMeasure) {
        EnableControl(ctl::kMeasure, true);
    }
    SetStatusText("Please set corresponding driver options\r\nand click 'Measure!' to measure the "
                  "latency");
}

// A driver that was created but could not be initialised has been released again by the
// session, so that picking it once more starts afresh instead of finding it already open.
void CTarveloDlg::FailOpen() {
    MessageBox("Error instantiating ASIO driver", "Tarvelo", MB_ICONSTOP);
    EnableControl(ctl::kDriverList, true);
}

void CTarveloDlg::FillSampleRates() {
    CWnd* list = GetDlgItem(ctl::kSampleRateList);
    if (!list || !m_asio) {
        return;
    }
    list->ResetContent();
    const ASIOSampleRate current = m_session.measurement().sampleRate();
    for (const ASIOSampleRate rate : m_session.rates()) {
        char text[64];
        std::snprintf(text, sizeof text, "%.0f Hz", rate);
        const int index = list->AddString(text);
        if (rate == current) {
            list->SetCurSel(index);
        }
        list->SetItemData(index, static_cast<std::uint32_t>(static_cast<std::int32_t>(rate)));
    }
    list->EnableWindow(true);
}

void CTarveloDlg::FillBufferSizes() {
    CWnd* list = GetDlgItem(ctl::kBufferSizeList);
    if (!list || !m_asio) {
        return;
    }
    list->ResetContent();
    const ASIOSampleRate rate = m_session.measurement().sampleRate();
    const bool showTime = std::isfinite(rate) && rate > 0;
    for (const std::int32_t size : m_session.bufferSizes()) {
        char text[64];
        if (showTime) {
            std::snprintf(text, sizeof text, "%d samples (%.2fms)", size, size * 1000.0 / rate);
        } else {
            std::snprintf(text, sizeof text, "%d samples", size);
        }
        const int index = list->AddString(text);
        if (size == m_bufferSize) {
            list->SetCurSel(index);
        }
    }
    list->EnableWindow(true);
}

void CTarveloDlg::OnSelchangeBufferSize() {
    CWnd* list = GetDlgItem(ctl::kBufferSizeList);
    const int position = list ? list->GetCurSel() : -1;
    const std::vector<std::int32_t> sizes = m_session.bufferSizes();
    if (position >= 0 && static_cast<std::size_t>(position) < sizes.size()) {
        m_session.setBufferSize(sizes[static_cast<std::size_t>(position)]);
    }
}

void CTarveloDlg::OnSelchangeSampleRate() {
    CWnd* list = GetDlgItem(ctl::kSampleRateList);
    const int index = list ? list->GetCurSel() : -1;
    if (index < 0 || !m_asio) {
        return;
    }
    // A refused rate changes nothing; an accepted one has the session read both lists again.
    if (m_session.setSampleRate(static_cast<double>(list->GetItemData(index))) != ASE_OK) {
        return;
    }
    FillSampleRates();
    FillBufferSizes();
}

void CTarveloDlg::OnResetRequest() {
    m_session.closeForReset();
    OnSelchangeDriver();
}
