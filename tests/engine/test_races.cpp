// What crosses threads, under load: the measurement re-armed the moment it ends, its recording read
// while it grows and its run ended early, a driver whose stop returns while its callback still
// runs, and a dialog armed, reset and closed against a free-running driver thread. Run under
// ThreadSanitizer and AddressSanitizer as well.

#include "engine/correlation_method.h"
#include "engine/dialog_fixture.h"
#include "engine/sensitivity.h"
#include "engine/threshold_method.h"
#include "support/fake_driver.h"

#include <algorithm>
#include <optional>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Measurement* g_measurement = nullptr;
IASIO* g_driver = nullptr;

// The owner's callback path as a host that watches for dropouts has it: the driver's sample
// position, asked inside the switch.
void measureSwitch(ASIOLong half, ASIOBool) {
    ASIOSamples position{};
    ASIOTimeStamp stamp{};
    SwitchClock clock;
    if (g_driver->getSamplePosition(&position, &stamp) == ASE_OK) {
        clock.samplePosition = std::uint64_t{position.hi} << 32 | position.lo;
    }
    g_measurement->onBufferSwitch(half, clock);
    g_driver->outputReady();
}

// A measurement of the simulator's one input and output on the simulator's own thread.
struct SimMeasurement {
    static constexpr ASIOLong kFrames = 32;

    SimMeasurement(const SimSettings& settings, std::unique_ptr<DetectionMethod> method)
        : measurement(std::move(method))
        , sim(createLoopbackSimulator(settings)) {
        measurement.setSampleRate(settings.sampleRate);
        measurement.setSensitivity(kDefaultSensitivity);
        EXPECT_EQ(sim->createBuffers(channels, 2, kFrames, &callbacks), ASE_OK);
        g_measurement = &measurement;
        g_driver = sim.get();
        EXPECT_EQ(sim->start(), ASE_OK);
    }
    bool awaitEnd(Clock::duration limit = 10s) {
        for (const auto end = Clock::now() + limit; measurement.armed();) {
            if (Clock::now() > end) {
                return false;
            }
        }
        return true;
    }

    Measurement measurement;
    const SimPtr sim; // released first: it stops the thread
    ASIOBufferInfo channels[2] = {{ASIOTrue, 0, {}}, {ASIOFalse, 0, {}}};
    ASIOCallbacks callbacks{measureSwitch, nullptr, nullptr, nullptr};
    const StreamSnapshot stream{channels, 1, 1, kFrames, layoutOf(ASIOSTInt32LSB)};
};

TEST(MeasurementRace, ReArmedTheMomentItEndsEveryMeasurementStartsAtSwitchZero) {
    SimSettings settings;
    settings.pacing = SimPacing::Freewheel;
    SimMeasurement run(settings, std::make_unique<ThresholdMethod>());
    int rounds = 0;
    int wrong = 0;
    std::optional<std::int32_t> switchesEach;
    for (const auto end = Clock::now() + 2s; Clock::now() < end; ++rounds) {
        ASSERT_EQ(run.measurement.arm(run.stream), ArmRefusal::None);
        ASSERT_TRUE(run.awaitEnd());
        const std::int32_t switches = run.measurement.switchCount(); // final once the flag is clear
        const MeasurementResult result = run.measurement.result();
        switchesEach = switchesEach.value_or(switches);
        wrong += result.latencySamples != 2.0 * SimMeasurement::kFrames + settings.loopDelay ||
                 !result.verdict.verified() || switches != *switchesEach;
    }
    EXPECT_EQ(wrong, 0) << "of " << rounds << " measurements";
}

// The owner reads the recording while the driver's thread goes on writing it, and ends the run
// once the prefix is enough: the result comes from that prefix, and nothing in it changed.
TEST(MeasurementRace, TheOwnerReadsTheRecordingAsItGrowsAndEndsTheRunEarly) {
    SimMeasurement run(SimSettings{}, std::make_unique<CorrelationMethod>());
    ASSERT_EQ(run.measurement.arm(run.stream), ArmRefusal::None);
    std::vector<float> early;
    while (run.measurement.recordedSamples() < 14400) { // 0.3 s
        const Recording& sofar = run.measurement.recording();
        if (early.empty() && sofar.length >= 7200) {
            early.assign(sofar.inputs[0].begin(), sofar.inputs[0].begin() + 7200);
        }
        ASSERT_TRUE(run.measurement.armed());
    }
    run.measurement.requestEnd();
    ASSERT_TRUE(run.awaitEnd());
    const MeasurementResult result = run.measurement.result();
    const Recording& recording = run.measurement.recording();
    EXPECT_LT(recording.length, 48000u);
    ASSERT_EQ(early.size(), 7200u);
    EXPECT_TRUE(std::equal(early.begin(), early.end(), recording.inputs[0].begin()));
    ASSERT_TRUE(result.latencySamples);
    EXPECT_NEAR(*result.latencySamples, 2.0 * SimMeasurement::kFrames + 32, 0.01);
}

// A driver that trusts its stop: stop() returns at once while its thread may be inside
// bufferSwitch, and disposeBuffers frees the buffers there and then. They are large and their
// inputs loud, so that a callback listening to them is in flight for a while.
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
                std::int32_t* samples =
                    m_buffers.emplace_back(std::make_unique<std::int32_t[]>(kFrames)).get();
                for (ASIOLong j = 0; infos[c].isInput && j < kFrames; ++j) {
                    samples[j] = j % 2 ? kPulseLevel : -kPulseLevel;
                }
                half = samples;
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
    dlg.m_measurement.setSampleRate(kMaxSampleRate);
    // Listening for a quiet that never comes: no end within the test.
    dlg.m_measurement.setQuietStart(QuietStart{-50, 0.02, 1e9});
    dlg.m_callbacks = {BufferSwitchCallback, SampleRateDidChangeCallback, AsioMessageCallback,
                       BufferSwitchTimeInfoCallback};
    for (const int step : {ctl::kAllocateBuffers, ctl::kStart, ctl::kMeasureLatency}) {
        dlg.SendMessage(WM_COMMAND, static_cast<WParam>(step), 0);
    }
    ASSERT_TRUE(dlg.m_measurement.armed());
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
