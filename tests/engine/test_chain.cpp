// Opening a driver and the Measure! chain end to end: clicks on the headless dialog, the loopback
// simulator on its own thread, the result through the real post queue and modal loop.

#include "engine/buffer_sizes.h"
#include "engine/dialog_fixture.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Chain = SimDialogTest;

const std::string kDriverReady =
    "Please set corresponding driver options\r\nand click 'Measure!' to measure the latency";

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

TEST_F(Chain, EveryFormatRateSizeAndDelayIsMeasuredExactly) {
    for (const char* type : {"Int16LSB", "Int24LSB", "Int32LSB", "Float32LSB", "Float64LSB",
                             "Int32LSB16", "Int32LSB18", "Int32LSB20", "Int32LSB24"}) {
        for (const char* delay : {"0", "777"}) {
            simulate(std::string("type=") + type + ",delay=" + delay);
            openDriver();
            const auto rates = surface().control(ctl::kSampleRateList)->items;
            ASSERT_EQ(rates.size(), settings.acceptedRates.size());
            for (std::size_t r = 0; r < rates.size(); ++r) {
                ASSERT_TRUE(headless::Select(*dlg, ctl::kSampleRateList, static_cast<int>(r)));
                const Texts sizes = items(ctl::kBufferSizeList);
                for (std::size_t s = 0; s < sizes.size(); ++s) {
                    ASSERT_TRUE(headless::Select(*dlg, ctl::kBufferSizeList, static_cast<int>(s)));
                    ASSERT_TRUE(measure());
                    ASSERT_EQ(measured(), roundTrip(std::stoi(sizes[s])))
                        << type << ", delay " << delay << ", " << rates[r].text << ", " << sizes[s];
                    ASSERT_EQ(dlg->m_lastResult->sampleRate, rates[r].data);
                }
            }
        }
    }
}

// The lists offer what the driver offers, select what it uses, and every size they list
// allocates: host and driver walk the sizes alike.
TEST_F(Chain, TheListsOfferWhatTheDriverOffersAndEverySizeListedMeasures) {
    struct Case {
        const char* sim;
        Texts rates;
        int rate;
        Texts sizes;
        int size;
    };
    const Case cases[] = {
        {"min=48,max=1536,preferred=96",
         {"22050 Hz", "32000 Hz", "44100 Hz", "48000 Hz", "96000 Hz", "192000 Hz"},
         3,
         {"48 samples (1.00ms)", "96 samples (2.00ms)", "192 samples (4.00ms)",
          "384 samples (8.00ms)", "768 samples (16.00ms)", "1536 samples (32.00ms)"},
         1},
        {"rates=44100/50000,rate=50000,min=100,max=300,granularity=100,preferred=200",
         {"44100 Hz"},
         -1,
         {"100 samples (2.00ms)", "200 samples (4.00ms)", "300 samples (6.00ms)"},
         1},
        {"rates=44100/44100.5,rate=44100.5,min=96,max=4096,granularity=0",
         {"44100 Hz"},
         -1,
         {"96 samples (2.18ms)"},
         -1},
        {"rates=none,min=512,max=256", {}, -1, {}, -1},
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
        for (std::size_t s = 0; s < c.sizes.size(); ++s) {
            ASSERT_TRUE(headless::Select(*dlg, ctl::kBufferSizeList, static_cast<int>(s)));
            ASSERT_TRUE(measure());
            EXPECT_EQ(measured(), roundTrip(std::stoi(c.sizes[s])));
        }
        EXPECT_EQ(messageBoxTexts(), Texts{});
    }
}

TEST(BufferSizeWalk, EndsWhateverTheDriverReports) {
    struct Case {
        std::int32_t min, max, granularity;
        int entries;
    };
    for (const Case c : {Case{0, 2048, -1, 1}, Case{-8, 2048, -1, 1}, Case{64, 4096, -7, 1},
                         Case{1 << 29, 0x7FFFFFFF, -1, 2}, Case{0x7FFFFF00, 0x7FFFFFFF, 300, 1},
                         Case{1, 0x7FFFFFFF, 1, kMaxBufferSizeEntries}}) {
        int entries = 0;
        for (BufferSizeWalk walk(c.min, c.max, c.granularity); !walk.done(); walk.next()) {
            ++entries;
        }
        EXPECT_EQ(entries, c.entries) << c.min << " to " << c.max << " by " << c.granularity;
    }
}

TEST_F(Chain, ThePreviewTakesAtMostTwoChannelsEachWayAtAnOfferedSize) {
    std::vector<SimPtr> made;
    registry.registerClass(kLoopbackSimClassId, [&] {
        LoopbackSimulator* sim = createLoopbackSimulator(settings);
        sim->AddRef(); // kept to be asked what it was given
        made.emplace_back(sim);
        return sim;
    });
    simulate("inputs=8,outputs=8,min=64,preferred=32");
    openDriver();
    ASSERT_EQ(made.size(), 2u);
    EXPECT_EQ(made[0]->lastBufferRequest().bufferSize, 64);
    EXPECT_EQ(
        made[0]->lastBufferRequest().channels,
        (std::vector<SimBufferRequest::Channel>{{true, 0}, {true, 1}, {false, 0}, {false, 1}}));
    EXPECT_EQ(text(ctl::kInputsField), "8");
    EXPECT_EQ(text(ctl::kOutputsField), "8");
    ASSERT_TRUE(headless::Select(*dlg, ctl::kBufferSizeList, 0));
    ASSERT_TRUE(measure());
    EXPECT_EQ(made[1]->lastBufferRequest().channels.size(), 16u);
    EXPECT_EQ(measured(), roundTrip(64));
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
        ASSERT_TRUE(measure());
        EXPECT_EQ(callsSince(before), c.calls);
        const auto boxes = headless::MessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.box);
        EXPECT_TRUE(boxes[0].owned);
        EXPECT_EQ(boxes[0].type, MB_ICONSTOP);
        EXPECT_EQ(dlg->m_bufferInfos, nullptr);
        const std::size_t beforeQuit = log->entries().size();
        dlg.reset();
        EXPECT_EQ(callsSince(beforeQuit), Texts{"Release"});
    }
}

TEST_F(Chain, ADriverThatCannotBeOpenedIsReleasedAndCanBePickedAgain) {
    simulate("init=0");
    createDialog();
    ASSERT_TRUE(headless::Select(*dlg, ctl::kDriverList, 1)); // "--- Select Driver ---"
    ASSERT_TRUE(headless::Select(*dlg, ctl::kDriverList, 0));
    EXPECT_EQ(log->entries(), (Texts{"init", "Release"}));
    EXPECT_EQ(messageBoxTexts(),
              (Texts{"Error instantiating ASIO driver", "Error instantiating ASIO driver"}));
    EXPECT_EQ(text(ctl::kStatus), "Initializing ASIO driver...");
    EXPECT_EQ(dlg->m_driverIndex, -1);
    settings.initResult = ASIOTrue;
    ASSERT_TRUE(headless::Select(*dlg, ctl::kDriverList, 0));
    EXPECT_EQ(dlg->m_driverIndex, 0);
    EXPECT_FALSE(headless::Select(*dlg, ctl::kDriverList, 0)); // no more picks once open
}

TEST_F(Chain, ARateChangeTakesEffectBeforeItsNoticeIsShown) {
    simulate("ratechange_at=1,ratechange_to=44100,delay=2000");
    openDriver();
    const Texts sizes = items(ctl::kBufferSizeList);
    std::atomic<double> rateWhileShown{0};
    headless::SetMessageBoxResponder([&](const headless::MessageBoxRecord&) {
        rateWhileShown = g_pMainDlg->m_measurement.sampleRate();
        return IDOK;
    });
    ASSERT_TRUE(measure());
    const auto boxes = headless::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Sample rate has changed: 44100");
    EXPECT_FALSE(boxes[0].owned);
    EXPECT_EQ(rateWhileShown.load(), 44100.0);
    EXPECT_EQ(items(ctl::kBufferSizeList), sizes);
    EXPECT_EQ(dlg->m_lastResult->sampleRate, 44100.0);
    EXPECT_EQ(measured(), roundTrip(256));
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
    EXPECT_FALSE(dlg->m_measurement.armed());

    simulate("reset_at=off,delay=32"); // taken by the driver a reset makes anew
    dlg->SendMessage(WM_COMMAND, ID_RESET_REQUEST, 0);
    ASSERT_TRUE(measure());
    EXPECT_EQ(measured(), roundTrip(256));
}

TEST_F(Chain, AResetRequestedWhileTheDriverOpensWaitsForTheOpenToFinish) {
    int panels = 0;
    settings.controlPanelHook = [&] {
        if (++panels == 1) {
            AsioMessageCallback(kAsioResetRequest, 0, nullptr, nullptr);
            headless::SurfaceOf(*g_pMainDlg)->pumpPending(); // a panel with a message loop
        }
    };
    openDriver();
    const std::size_t opened = log->entries().size();
    ASSERT_TRUE(surface().pumpUntil([&] { return panels == 2; }, 5s));
    surface().pumpPending();
    EXPECT_EQ(callsSince(opened).at(0), "stop"); // the reset came after the open's last call
    EXPECT_EQ(dlg->m_driverIndex, 0);
    ASSERT_TRUE(measure());
    EXPECT_EQ(measured(), roundTrip(256));
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
    EXPECT_EQ(dlg->m_bufferInfos, nullptr);
    EXPECT_TRUE(enabled(ctl::kBufferSizeList));
}

TEST_F(Chain, QuittingMidMeasurementStopsTheDriverBeforeAnythingIsFreed) {
    simulate("pace=realtime,delay=40000");
    openDriver();
    ASSERT_TRUE(headless::Click(*dlg, ctl::kMeasure));
    ASSERT_TRUE(dlg->m_measurement.armed());
    std::this_thread::sleep_for(30ms); // a few switches on the driver's thread
    const std::size_t before = log->entries().size();
    dlg.reset();
    EXPECT_EQ(callsSince(before), (Texts{"stop", "disposeBuffers", "Release"}));
    EXPECT_EQ(registry.comUninitializeCount(), registry.comInitializeCount());
}

} // namespace
