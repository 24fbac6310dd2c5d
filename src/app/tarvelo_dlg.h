#pragma once
// The main dialog. It holds the whole latency test: the driver catalog, the driver setup, the
// Measure! chain and one measurement (engine/measurement.h), which it arms and whose typed
// result it shows.
//
// Threads. The user-interface thread runs every handler. A thread of the driver's choosing runs
// the four host callbacks (host_callbacks.cpp), which reach the dialog only through g_pMainDlg
// and the callback gate. What crosses threads is the measurement's (its contract is in its
// header) and m_resetPending. The driver pointer the buffer-switch callback reads is written by
// the user-interface thread only while no measurement is armed and no callback is in the gate.

#include "asio/asio.h"
#include "catalog/driver_catalog.h"
#include "engine/measurement.h"
#include "engine/threshold_method.h"
#include "framework/framework.h"

#include <atomic>
#include <cstdint>
#include <optional>

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

    // The buffers as allocated now, for the measurement.
    StreamSnapshot CurrentStream() const;
    // The buffer-switch callback's way in, on the driver's thread.
    void OnBufferSwitch(ASIOLong doubleBufferIndex);

    // The channel array: one record per channel in use, inputs first, channelNum from 0 in each
    // group. Null when memory is short. Every place that needs the array builds it here.
    static ASIOBufferInfo* BuildChannelArray(int numInputs, int numOutputs);
    void ReleaseChannelArray();

    DriverCatalog m_drivers;

    // The measurement state, in its documented order.
    IASIO* m_asio = nullptr;
    std::int32_t m_driverIndex = -1;
    std::int32_t m_numInputs = 0;
    std::int32_t m_numOutputs = 0;
    std::int32_t m_sysHandleWord = 0;
    std::int32_t m_autoMeasure = 0;
    std::atomic<std::int32_t> m_resetPending{0};
    ASIOBufferInfo* m_bufferInfos = nullptr;
    ASIOChannelInfo m_inputInfo{};
    ASIOChannelInfo m_outputInfo{};
    std::int32_t m_minSize = 0;
    std::int32_t m_maxSize = 0;
    std::int32_t m_preferredSize = 0;
    std::int32_t m_granularity = 0;
    std::int32_t m_bufferSize = 0;
    std::int32_t m_sampleBytes = 0;
    // The sample format of every buffer, taken from output channel 0 with m_sampleBytes.
    SampleLayout m_sampleLayout{};
    ASIOLong m_reportedInputLatency = 0;
    ASIOLong m_reportedOutputLatency = 0;
    ASIOCallbacks m_callbacks{};
    // Owns the armed flag, switch count, sensitivity and sample rate.
    Measurement m_measurement{std::make_unique<ThresholdMethod>()};
    // The result of the last measurement shown, none before the first.
    std::optional<MeasurementResult> m_lastResult;
    // Reset requests handled so far, for a caller that wants to run a measurement again.
    int m_resetsHandled = 0;

    void* m_hIcon = nullptr;

    // User-interface thread only: whether start succeeded and no stop has yet; whether an armed
    // measurement's result is still to come; whether the open sequence is running; and a reset
    // request that arrived meanwhile.
    bool m_streamRunning = false;
    bool m_awaitingResult = false;
    bool m_opening = false;
    bool m_resetDeferred = false;

protected:
    std::span<const MessageMapEntry> GetMessageMap() const override;
    bool OnCommand(WParam wParam, LParam lParam) override;
    bool OnInitDialog() override;

private:
    void OpenSelectedDriver();
    bool OpenAndInit(int sel);
    void FailOpen(int sel);
    void ReadBufferSizes();
    void OnResetRequest();
    // Waits until no callback is inside the dialog; later ones find the measurement disarmed.
    void QuiesceCallbacks();

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

// The host callbacks handed to the driver (host_callbacks.cpp); they run on the driver's thread.
void BufferSwitchCallback(ASIOLong doubleBufferIndex, ASIOBool directProcess);
ASIOTime* BufferSwitchTimeInfoCallback(ASIOTime* params, ASIOLong doubleBufferIndex,
                                       ASIOBool directProcess);
void SampleRateDidChangeCallback(ASIOSampleRate sRate);
ASIOLong AsioMessageCallback(ASIOLong selector, ASIOLong value, void* message, double* opt);
