// The dialog as a view of its session: opening a driver and the Measure! chain end to end, with
// clicks on the headless dialog, the loopback simulator on its own thread, and the result through
// the real post queue and modal loop; its texts, control states, message boxes and driver calls.

#include "app/dialog_fixture.h"
#include "support/hand_driver.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Chain = SimDialogTest;

const std::string kDriverReady =
    "Please set corresponding driver options\r\nand click 'Measure!' to measure the latency";
const std::string kMeasured = "Measurement results: 544 samples / 11.33 ms";

TEST_F(Chain, OpeningProbesTheDriverAndOnePressRunsTheWholeChainInOrder) {
    openDriver();
    const Texts probe = {"init",         "getChannels",    "getBufferSize", "createBuffers",
                         "controlPanel", "disposeBuffers", "Release",       "init"};
    const Texts opened = log->entries();
    ASSERT_GE(opened.size(), probe.size());
    EXPECT_EQ(Texts(opened.begin(), opened.begin() + 8), probe);
    EXPECT_EQ(dlg->m_driverIndex, 0);
    EXPECT_FALSE(enabled(ctl::kDriverList));

    ASSERT_TRUE(headless::Click(*dlg, ctl::kMeasure));
    // Nothing is pumped yet: the measurement is armed and the driver was called in order.
    EXPECT_EQ(callsSince(opened.size()), (Texts{"createBuffers", "getLatencies", "getChannelInfo",
                                                "getChannelInfo", "start"}));
    ASSERT_TRUE(surface().pumpUntil([&] { return dlg->m_autoMeasure == 0; }, 20s));
    const Texts chain = callsSince(opened.size());
    EXPECT_EQ(Texts(chain.end() - 2, chain.end()), (Texts{"stop", "disposeBuffers"}));
    EXPECT_EQ(headless::DebugOutputTexts(),
              (Texts{"Initialization... Enumerating ASIO drivers...", "Please select ASIO driver",
                     "Initializing ASIO driver...", kDriverReady, "Measuring... Please wait",
                     "Measurement results: 544 samples / 11.33 ms"}));
    for (const auto& [id, on] : {std::pair{ctl::kBufferSizeList, true},
                                 {ctl::kSampleRateList, true},
                                 {ctl::kAllocateBuffers, true},
                                 {ctl::kMeasure, true},
                                 {ctl::kStart, false},
                                 {ctl::kStop, false},
                                 {ctl::kMeasureLatency, false},
                                 {ctl::kFreeBuffers, false}}) {
        EXPECT_EQ(enabled(id), on) << id;
    }
    EXPECT_TRUE(headless::MessageBoxes().empty());
}

// The lists show what the session offers, and select what the driver uses.
TEST_F(Chain, TheListsShowTheOfferedRatesAndSizesAndSelectWhatTheDriverUses) {
    struct Case {
        const char* sim;
        Texts rates;
        int rate;
        Texts sizes;
        int size;
    };
    const Case cases[] = {
        {"min=48,max=1536,preferred=96,inputs=8",
         {"22050 Hz", "32000 Hz", "44100 Hz", "48000 Hz", "96000 Hz", "192000 Hz"},
         3,
         {"48 samples (1.00ms)", "96 samples (2.00ms)", "192 samples (4.00ms)",
          "384 samples (8.00ms)", "768 samples (16.00ms)", "1536 samples (32.00ms)"},
         1},
        {"rates=44100/44100.5,rate=44100.5,min=96,max=4096,granularity=0,inputs=8",
         {"44100 Hz"},
         -1,
         {"96 samples (2.18ms)"},
         -1},
        {"rates=none,min=512,max=256,inputs=8", {}, -1, {}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sim);
        settings = {};
        settings.pacing = SimPacing::Freewheel;
        simulate(c.sim);
        openDriver();
        EXPECT_EQ(items(ctl::kSampleRateList), c.rates);
        EXPECT_EQ(surface().control(ctl::kSampleRateList)->selection, c.rate);
        EXPECT_EQ(items(ctl::kBufferSizeList), c.sizes);
        EXPECT_EQ(surface().control(ctl::kBufferSizeList)->selection, c.size);
        EXPECT_TRUE(enabled(ctl::kSampleRateList) && enabled(ctl::kBufferSizeList));
        EXPECT_EQ(text(ctl::kInputsField), "8");
        EXPECT_EQ(text(ctl::kOutputsField), "2");
        EXPECT_EQ(messageBoxTexts(), Texts{});
    }
}

TEST_F(Chain, DriverFailuresAreShownAndQuittingAsksNothingMore) {
    struct Case {
        const char* sim;
        const char* box;
        Texts calls; // from the press of Measure!
    };
    const Texts started = {"createBuffers", "getLatencies", "getChannelInfo", "getChannelInfo",
                           "start"};
    const auto then = [&](Texts more) {
        Texts calls = started;
        calls.insert(calls.end(), more.begin(), more.end());
        return calls;
    };
    const Case cases[] = {
        {"createfail=NoMemory", "ASIO Driver failed to allocate buffers", {"createBuffers"}},
        {"startfail=HWMalfunction", "Error starting playback/recording",
         then({"stop", "disposeBuffers", "disposeBuffers"})},
        {"stopfail=HWMalfunction", "Error stopping playback/recording",
         then({"stop", "disposeBuffers"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sim);
        headless::ResetEnvironment();
        settings = {};
        settings.pacing = SimPacing::Freewheel;
        settings.callLog = log;
        simulate(c.sim);
        openDriver();
        const std::size_t before = log->entries().size();
        measure();
        EXPECT_EQ(callsSince(before), c.calls);
        const auto boxes = headless::MessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.box);
        EXPECT_TRUE(boxes[0].owned);
        EXPECT_EQ(boxes[0].type, MB_ICONSTOP);
        EXPECT_FALSE(dlg->m_bufferInfos);
        // Whichever step failed, the chain has ended: another setup can be measured.
        EXPECT_TRUE(enabled(ctl::kMeasure) && enabled(ctl::kBufferSizeList));
        const std::size_t beforeQuit = log->entries().size();
        dlg.reset();
        EXPECT_EQ(callsSince(beforeQuit), Texts{"Release"});
    }
}

TEST_F(Chain, ARateChangeTakesEffectBeforeItsNoticeIsShown) {
    simulate("ratechange_at=1,ratechange_to=44100,delay=2000");
    openDriver();
    const Texts sizes = items(ctl::kBufferSizeList);
    std::atomic<double> rateWhileShown{0};
    headless::SetMessageBoxResponder([&](const headless::MessageBoxRecord&) {
        rateWhileShown = g_pMainDlg->m_session.measurement().sampleRate();
        return IDOK;
    });
    // 2 x 256 + 2000 samples at the new rate.
    EXPECT_EQ(measure(), "Measurement results: 2512 samples / 56.96 ms");
    const auto boxes = headless::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Sample rate has changed: 44100");
    EXPECT_FALSE(boxes[0].owned);
    EXPECT_EQ(rateWhileShown.load(), 44100.0);
    EXPECT_EQ(items(ctl::kBufferSizeList), sizes);
}

TEST_F(Chain, AResetRequestDuringAMeasurementReopensTheDriver) {
    simulate("reset_at=2,pace=realtime,delay=40000"); // nothing comes back before the reset
    openDriver();
    const std::size_t before = log->entries().size();
    ASSERT_TRUE(headless::Click(*dlg, ctl::kMeasure));
    ASSERT_TRUE(surface().pumpUntil([&] { return enabled(ctl::kMeasure); }, 20s));
    EXPECT_EQ(messageBoxTexts(), Texts{"The driver requested ASIO reset"});
    const Texts calls = callsSince(before);
    const Texts reopen = {"stop", "disposeBuffers", "Release", "init"};
    EXPECT_NE(std::search(calls.begin(), calls.end(), reopen.begin(), reopen.end()), calls.end());
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "controlPanel"), 1);
    EXPECT_EQ(text(ctl::kStatus), kDriverReady);
    EXPECT_EQ(dlg->m_session.state(), SessionState::Open);

    simulate("reset_at=off,delay=32"); // taken by the driver a reset makes anew
    dlg->SendMessage(WM_COMMAND, ID_RESET_REQUEST, 0);
    EXPECT_EQ(measure(), kMeasured);
}

TEST_F(Chain, AResetRequestedWhileTheDriverOpensWaitsForTheOpenToFinish) {
    int panels = 0;
    settings.controlPanelHook = [&] {
        if (++panels == 1) {
            // Asked on the driver's own thread; the panel's message loop hands it to the dialog.
            std::thread([] { AsioMessageCallback(kAsioResetRequest, 0, nullptr, nullptr); }).join();
            headless::SurfaceOf(*g_pMainDlg)->pumpPending();
        }
    };
    openDriver();
    const std::size_t opened = log->entries().size();
    ASSERT_TRUE(surface().pumpUntil([&] { return panels == 2; }, 5s));
    surface().pumpPending();
    EXPECT_EQ(callsSince(opened).at(0), "stop"); // the reset came after the open's last call
    EXPECT_EQ(dlg->m_driverIndex, 0);
    EXPECT_EQ(measure(), kMeasured);
}

// A driver that, inside setSampleRate, asks for a reset and announces a rate change on the
// calling thread, with the callbacks the host gave it; every other call succeeds.
class AnnouncingDriver final : public HandDriver {
public:
    AnnouncingDriver()
        : HandDriver(2, 2, 256, 48000, ASIOSTInt32LSB) {}
    ASIOError createBuffers(ASIOBufferInfo* infos, ASIOLong count, ASIOLong frames,
                            ASIOCallbacks* callbacks) override {
        m_host = callbacks;
        return HandDriver::createBuffers(infos, count, frames, callbacks);
    }
    ASIOError setSampleRate(ASIOSampleRate rate) override {
        insideCall = true;
        m_host->asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
        m_host->sampleRateDidChange(rate);
        insideCall = false;
        return ASE_OK;
    }
    ASIOBool init(void*) override {
        ++inits;
        return ASIOTrue;
    }
    int inits = 0;
    bool insideCall = false;

private:
    ASIOCallbacks* m_host = nullptr; // valid as long as the host that gave it
};

TEST_F(Chain, ADriverThatAsksForAResetInsideSetSampleRateIsResetOnceThatCallHasReturned) {
    AnnouncingDriver driver;
    registry.registerClass(kLoopbackSimClassId, [&driver] { // in the simulator's place
        driver.AddRef();
        return &driver;
    });
    // Message boxes run a message loop, as they do on Windows; none may run inside the call.
    int boxesInsideCall = 0;
    headless::SetMessageBoxResponder([&](const headless::MessageBoxRecord&) {
        boxesInsideCall += driver.insideCall ? 1 : 0;
        headless::SurfaceOf(*g_pMainDlg)->pumpPending();
        return IDOK;
    });
    openDriver();
    ASSERT_EQ(driver.inits, 2);
    ASSERT_TRUE(headless::Select(*dlg, ctl::kSampleRateList, 2));
    EXPECT_EQ(messageBoxTexts(),
              (Texts{"The driver requested ASIO reset", "Sample rate has changed: 44100"}));
    EXPECT_EQ(boxesInsideCall, 0);
    surface().pumpPending();
    EXPECT_EQ(driver.inits, 4); // the reset opened the driver again, probe and all
    EXPECT_EQ(dlg->m_resetPending, 0);
    EXPECT_EQ(text(ctl::kStatus), kDriverReady);
    EXPECT_TRUE(enabled(ctl::kMeasure));
    dlg.reset(); // before the driver it holds goes
}

TEST_F(Chain, WithoutADriverNoStepCallsOneAndStartAndStopStillMoveTheControls) {
    openDriver();
    settings.initResult = ASIOFalse;
    dlg->SendMessage(WM_COMMAND, ID_RESET_REQUEST, 0); // the driver cannot be opened again
    EXPECT_TRUE(enabled(ctl::kDriverList));
    const std::size_t before = log->entries().size();
    ASSERT_TRUE(headless::Click(*dlg, ctl::kMeasure));
    EXPECT_EQ(messageBoxTexts().back(), "No ASIO driver is open.\r\nPlease select a driver again");
    ASSERT_TRUE(headless::Select(*dlg, ctl::kSampleRateList, 0));
    dlg->m_autoMeasure = 0;
    const auto expectEnabled = [&](bool start, bool stop) {
        EXPECT_EQ(enabled(ctl::kStart), start);
        EXPECT_EQ(enabled(ctl::kFreeBuffers), start);
        EXPECT_EQ(enabled(ctl::kStop), stop);
        EXPECT_EQ(enabled(ctl::kMeasureLatency), stop);
    };
    dlg->SendMessage(WM_COMMAND, ctl::kStart, 0);
    expectEnabled(false, true);
    dlg->SendMessage(WM_COMMAND, ctl::kStop, 0);
    expectEnabled(true, false);
    dlg->SendMessage(WM_COMMAND, ctl::kFreeBuffers, 0);
    EXPECT_EQ(callsSince(before), Texts{});
}

TEST_F(Chain, AStepSentAsACommandRunsThoughNoHandCanReachItsButton) {
    openDriver();
    dlg->m_autoMeasure = 0;
    EXPECT_FALSE(headless::Click(*dlg, ctl::kAllocateBuffers)); // hidden
    dlg->SendMessage(WM_COMMAND, ctl::kAllocateBuffers, 0);
    EXPECT_TRUE(enabled(ctl::kStart));
    EXPECT_FALSE(enabled(ctl::kBufferSizeList));
    dlg->SendMessage(WM_COMMAND, ctl::kFreeBuffers, 0);
    EXPECT_FALSE(dlg->m_bufferInfos);
    EXPECT_TRUE(enabled(ctl::kBufferSizeList));
}

TEST_F(Chain, QuittingMidMeasurementStopsTheDriverBeforeAnythingIsFreed) {
    simulate("pace=realtime,delay=40000");
    openDriver();
    ASSERT_TRUE(headless::Click(*dlg, ctl::kMeasure));
    ASSERT_EQ(dlg->m_session.state(), SessionState::Armed);
    std::this_thread::sleep_for(30ms); // a few switches on the driver's thread
    const std::size_t before = log->entries().size();
    dlg.reset();
    EXPECT_EQ(callsSince(before), (Texts{"stop", "disposeBuffers", "Release"}));
    EXPECT_EQ(registry.comUninitializeCount(), registry.comInitializeCount());
}

} // namespace
