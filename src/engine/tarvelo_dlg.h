#pragma once
// The main dialog. It holds the whole latency test: the driver catalog, the measurement state,
// the driver setup, the Measure! chain and the pulse detection. Its window side lives in app/,
// its engine handlers in engine/.
//
// Threads. The user-interface thread runs every handler. A thread of the driver's choosing runs
// the four host callbacks, which reach the dialog only through g_pMainDlg. Fields both threads
// touch while a measurement can run are atomics. The rest of what the buffer-switch callback
// reads (channel array, counts, buffer size, sample bytes and layout, driver) is written by the
// user-interface thread only while no measurement is armed; arming's release store of
// m_measuring publishes it, and the callback reads it only after its acquire load sees 1.

#include "asio/asio.h"
#include "asio/driver_catalog.h"
#include "asio/sample_types.h"
#include "framework/framework.h"

#include <atomic>
#include <cstdint>

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

    // Pulse detection.
    void OnMeasureLatency();
    void OnSelchangeSensitivity();

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
    std::atomic<ASIOSampleRate> m_sampleRate{0.0};
    std::int32_t m_sampleBytes = 0;
    // The sample format of every buffer, taken from output channel 0 with m_sampleBytes.
    SampleLayout m_sampleLayout{};
    std::atomic<std::int32_t> m_measuring{0};
    std::atomic<std::int32_t> m_switchCount{0};
    std::atomic<std::int32_t> m_sensitivity{2};
    ASIOCallbacks m_callbacks{};

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

    void EnableControl(int id, bool enable);
    void SetControlText(int id, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;
    // Runs a step of the chain as a command to the dialog itself, nested on this thread.
    void DispatchCommand(int id);
    // The result posted by the buffer-switch callback: latency in samples, 0 for none.
    void OnResult(std::int32_t samples);
    // Ends a measurement on the user-interface thread: Measure Latency enabled again, and in
    // chain mode the stream stopped.
    void EndMeasurement();
};

// The one main dialog, for the driver's callbacks. Set by the constructor, never cleared.
extern CTarveloDlg* g_pMainDlg;

// The host callbacks handed to the driver; they run on the driver's thread.
void BufferSwitchCallback(ASIOLong doubleBufferIndex, ASIOBool directProcess);
ASIOTime* BufferSwitchTimeInfoCallback(ASIOTime* params, ASIOLong doubleBufferIndex,
                                       ASIOBool directProcess);
void SampleRateDidChangeCallback(ASIOSampleRate sRate);
ASIOLong AsioMessageCallback(ASIOLong selector, ASIOLong value, void* message, double* opt);
