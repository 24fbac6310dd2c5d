#pragma once
// The main dialog: a view of one measurement session (session/measurement_session.h). It owns
// the driver catalog and the session; its handlers open the driver, run the Measure! chain as
// the session's steps, and show the session's typed results and the driver's notices.
//
// Threads. The user-interface thread runs every handler. The session's host callbacks run on a
// thread of the driver's choosing; they reach the dialog only through its events (DialogEvents,
// dialog_events.cpp), which show the driver's notices on that thread and post ID_RESULT and
// ID_RESET_REQUEST to the window through g_pMainDlg. Each command is handled with the session's
// events held, so nothing the driver announces from inside a call the dialog made runs a message
// loop inside that call; a reset request that a message loop hands the dialog in the middle of a
// command is handled once the command is done.

#include "catalog/driver_catalog.h"
#include "framework/framework.h"
#include "session/measurement_session.h"

#include <atomic>
#include <cstdint>

// The dialog's side of the session's events.
class DialogEvents final : public SessionEvents {
public:
    void announce(const SessionEvent& event) override;
    void post(const SessionEvent& event) override;
};

class CTarveloDlg : public CDialog {
public:
    explicit CTarveloDlg(CDialog* parent = nullptr);
    ~CTarveloDlg() override;

    // printf-style; shows the text in the status box and sends it to the debugger output.
    void SetStatusText(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    // Window side: the system menu, the minimised window's icon, the instructions dialog and
    // the maker's web page.
    void OnSysCommand(unsigned command, LParam lParam);
    void OnPaint();
    void* OnQueryDragIcon();
    void OnHelpButton();
    void OnVisitWeb();

    // Driver setup.
    void OnSelchangeDriver();
    void FillSampleRates();
    void FillBufferSizes();
    void OnSelchangeSampleRate();
    void OnSelchangeBufferSize();

    // The Measure! chain.
    void OnMeasure();
    void OnAllocateBuffers();
    void OnStart();
    void OnStop();
    void OnFreeBuffers();

    // Arming the measurement, and its sensitivity.
    void OnMeasureLatency();
    void OnSelchangeSensitivity();

    DriverCatalog m_drivers;
    DialogEvents m_events;
    MeasurementSession m_session{m_drivers, m_events};

    // The measurement state, in its documented order: the session owns it, these are views.
    IASIO* const& m_asio = m_session.driver();
    const std::int32_t& m_driverIndex = m_session.driverIndex();
    const std::int32_t& m_numInputs = m_session.numInputs();
    const std::int32_t& m_numOutputs = m_session.numOutputs();
    const std::int32_t& m_sysHandleWord = m_session.sysHandleWord();
    std::int32_t m_autoMeasure = 0; // the chain flag, the dialog's own
    const std::atomic<std::int32_t>& m_resetPending = m_session.resetPending();
    const ChannelArray& m_bufferInfos = m_session.channelArray();
    const ASIOChannelInfo& m_inputInfo = m_session.inputInfo();
    const ASIOChannelInfo& m_outputInfo = m_session.outputInfo();
    const std::int32_t& m_minSize = m_session.limits().minSize;
    const std::int32_t& m_maxSize = m_session.limits().maxSize;
    const std::int32_t& m_preferredSize = m_session.limits().preferredSize;
    const std::int32_t& m_granularity = m_session.limits().granularity;
    const std::int32_t& m_bufferSize = m_session.bufferSize();
    const std::int32_t& m_sampleBytes = m_session.sampleBytes();
    const ASIOCallbacks& m_callbacks = m_session.callbacks();

    void* m_hIcon = nullptr;

protected:
    std::span<const MessageMapEntry> GetMessageMap() const override;
    bool OnCommand(WParam wParam, LParam lParam) override;
    bool OnInitDialog() override;

private:
    void FailOpen();
    void OnResetRequest();

    void EnableControl(int id, bool enable);
    void SetControlText(int id, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;
    // Runs a step of the chain as a command to the dialog itself, nested on this thread.
    void DispatchCommand(int id);
    // The buffer-switch callback posted that the measurement ended.
    void OnResult();
    // Ends a measurement on the user-interface thread: Measure Latency enabled again, and in
    // chain mode the stream stopped.
    void EndMeasurement();
};

// The one main dialog, for the driver's callbacks. Set by the constructor, never cleared.
extern CTarveloDlg* g_pMainDlg;
