// What crosses threads, under load: the measurement re-armed the moment it ends, a driver whose
// stop returns while its callback still runs, and a dialog armed, reset and closed against a
// free-running driver thread. Run under ThreadSanitizer and AddressSanitizer as well.

#include "engine/dialog_fixture.h"
#include "engine/threshold_method.h"
#include "support/fake_driver.h"

#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Measurement* g_measurement = nullptr;
IASIO* g_driver = nullptr;

void measureSwitch(ASIOLong half, ASIOBool) {
    g_measurement->onBufferSwitch(half);
    g_driver->outputReady();
}

TEST(MeasurementRace, ReArmedTheMomentItEndsEveryMeasurementStartsAtSwitchZero) {
    SimSettings settings;
    settings.pacing = SimPacing::Freewheel;
    Measurement measurement(std::make_unique<ThresholdMethod>());
    measurement.setSampleRate(settings.sampleRate);
    const SimPtr sim(createLoopbackSimulator(settings)); // released first: it stops the thread
    ASIOBufferInfo channels[] = {{ASIOTrue, 0, {}}, {ASIOFalse, 0, {}}};
    ASIOCallbacks callbacks{measureSwitch, nullptr, nullptr, nullptr};
    constexpr ASIOLong kFrames = 32;
    ASSERT_EQ(sim->createBuffers(channels, 2, kFrames, &callbacks), ASE_OK);
    g_measurement = &measurement;
    g_driver = sim.get();
    ASSERT_EQ(sim->start(), ASE_OK);
    const StreamSnapshot stream{channels, 1, 1, kFrames, layoutOf(settings.sampleType)};
    int rounds = 0;
    int wrong = 0;
    for (const auto end = Clock::now() + 2s; Clock::now() < end; ++rounds) {
        measurement.arm(stream);
        while (measurement.armed() && Clock::now() < end + 5s) {
        }
        const std::int32_t switches = measurement.switchCount(); // final once the flag is clear
        const MeasurementResult result = measurement.result();
        wrong += result.latencySamples != 2.0 * kFrames + settings.loopDelay ||
                 switches != result.threshold->switchIndex + 1;
    }
    EXPECT_EQ(wrong, 0) << "of " << rounds << " measurements";
}

// A driver that trusts its stop: stop() returns at once while its thread may be inside
// bufferSwitch, and disposeBuffers frees the buffers there and then. They are large, so that
// a callback scanning them is in flight for a while.
class HastyDriver final : public FakeDriver {
public:
    static constexpr ASIOLong kFrames = 1 << 20;
    ~HastyDriver() override {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    ASIOError createBuffers(ASIOBufferInfo* infos, ASIOLong count, ASIOLong,
                            ASIOCallbacks* callbacks) override {
        m_callbacks = *callbacks;
        for (ASIOLong c = 0; c < count; ++c) {
            for (void*& half : infos[c].buffers) {
                half = m_buffers.emplace_back(std::make_unique<std::int32_t[]>(kFrames)).get();
            }
        }
        return ASE_OK;
    }
    ASIOError getChannelInfo(ASIOChannelInfo* info) override {
        info->type = ASIOSTInt32LSB;
        return ASE_OK;
    }
    ASIOError start() override {
        m_thread = std::thread([this] {
            for (long k = 0; !m_stopped; ++k) {
                m_callbacks.bufferSwitch(k % 2, ASIOFalse);
                switches.fetch_add(1);
            }
        });
        return ASE_OK;
    }
    ASIOError stop() override {
        m_stopped = true;
        return ASE_OK;
    }
    ASIOError disposeBuffers() override {
        m_buffers.clear();
        return ASE_OK;
    }

    std::atomic<int> switches{0};

private:
    ASIOCallbacks m_callbacks{};
    std::vector<std::unique_ptr<std::int32_t[]>> m_buffers;
    std::atomic<bool> m_stopped{false};
    std::thread m_thread;
};

TEST(ResetRace, ACallbackStillRunningAfterStopIsWaitedForBeforeAnythingIsFreed) {
    headless::ResetEnvironment();
    HastyDriver driver;
    CTarveloDlg dlg;
    dlg.Create();
    dlg.m_autoMeasure = 0;
    dlg.m_asio = &driver;
    dlg.m_numInputs = 1;
    dlg.m_numOutputs = 1;
    dlg.m_bufferSize = HastyDriver::kFrames;
    dlg.m_measurement.setSampleRate(1e9); // no time limit within the test
    dlg.m_callbacks = {BufferSwitchCallback, SampleRateDidChangeCallback, AsioMessageCallback,
                       BufferSwitchTimeInfoCallback};
    for (const int step : {ctl::kAllocateBuffers, ctl::kStart, ctl::kMeasureLatency}) {
        dlg.SendMessage(WM_COMMAND, static_cast<WParam>(step), 0);
    }
    ASSERT_TRUE(dlg.m_measurement.armed());
    // Past the first switch's clearing: the callbacks now scan the inputs.
    for (const auto end = Clock::now() + 10s; driver.switches < 2 && Clock::now() < end;) {
        std::this_thread::yield();
    }
    dlg.SendMessage(WM_COMMAND, ID_RESET_REQUEST, 0);
    EXPECT_EQ(dlg.m_asio, nullptr);
    EXPECT_EQ(dlg.m_bufferInfos, nullptr);
}

class DialogRace : public SimDialogTest {};

TEST_F(DialogRace, ArmedResetAndClosedAgainstAFreeRunningDriverThread) {
    int rounds = 0;
    for (const auto end = Clock::now() + 3s; Clock::now() < end; ++rounds) {
        settings.resetRequestAtSwitch = rounds % 3 == 1 ? rounds % 7 : -1;
        openDriver();
        dlg->m_autoMeasure = 0;
        dlg->SendMessage(WM_COMMAND, ctl::kAllocateBuffers, 0);
        dlg->SendMessage(WM_COMMAND, ctl::kStart, 0);
        for (int k = 0; k < 10; ++k) {
            dlg->m_lastResult.reset();
            dlg->SendMessage(WM_COMMAND, ctl::kMeasureLatency, 0);
            if (rounds % 3 == 2 && k == 5) {
                break; // closed with the measurement armed
            }
            // Until its result is shown, or a reset has cut it short.
            ASSERT_TRUE(surface().pumpUntil([&] { return !dlg->m_awaitingResult; }, 10s));
            if (dlg->m_lastResult) {
                ASSERT_EQ(measured(), roundTrip(256));
            }
        }
        dlg.reset();
    }
    RecordProperty("rounds", rounds);
}

} // namespace
