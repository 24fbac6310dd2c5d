// Opening a driver, its rate and size lists, and the driver's own notices, on the headless
// dialog with the simulator (changed where a test needs an odd driver).

#include "engine/buffer_sizes.h"
#include "engine/forwarding_driver.h"
#include "engine/sim_dialog.h"

#include <thread>

namespace {

using namespace std::chrono_literals;
using Calls = std::vector<std::string>;
using Texts = std::vector<std::string>;

class DriverSetup : public SimDialogTest {
protected:
    // Installs a driver made by `make` from a fresh simulator in place of the plain simulator.
    template <class Driver>
    void useDriver() {
        registry.registerClass(kLoopbackSimClassId, [this]() -> IASIO* {
            return new Driver(createLoopbackSimulator(settings));
        });
    }
};

TEST_F(DriverSetup, OpeningProbesWithPreviewBuffersThenOpensForUse) {
    openDriver();
    const Calls calls = log->entries();
    const Calls probe = {"init",         "getChannels",    "getBufferSize", "createBuffers",
                         "controlPanel", "disposeBuffers", "Release"};
    ASSERT_GE(calls.size(), probe.size());
    EXPECT_EQ(Calls(calls.begin(), calls.begin() + 7), probe);
    EXPECT_EQ(calls[7], "init");
    EXPECT_EQ(calls[8], "getSampleRate");
    EXPECT_EQ(dlg->m_driverIndex, 0);
    EXPECT_EQ(dlg->m_bufferSize, 256);
    EXPECT_EQ(dlg->m_measurement.sampleRate(), 48000.0);
    EXPECT_FALSE(enabled(ctl::kDriverList));
    EXPECT_TRUE(enabled(ctl::kMeasure));
    EXPECT_TRUE(enabled(ctl::kAllocateBuffers));
    EXPECT_EQ(items(ctl::kSampleRateList),
              (Texts{"22050 Hz", "32000 Hz", "44100 Hz", "48000 Hz", "96000 Hz", "192000 Hz"}));
    EXPECT_EQ(control(ctl::kSampleRateList).GetCurSel(), 3);
    EXPECT_EQ(control(ctl::kSampleRateList).GetItemData(5), 192000u);
    EXPECT_EQ(items(ctl::kBufferSizeList),
              (Texts{"32 samples (0.67ms)", "64 samples (1.33ms)", "128 samples (2.67ms)",
                     "256 samples (5.33ms)", "512 samples (10.67ms)", "1024 samples (21.33ms)",
                     "2048 samples (42.67ms)"}));
    EXPECT_EQ(control(ctl::kBufferSizeList).GetCurSel(), 3);
    EXPECT_EQ(
        status(),
        "Please set corresponding driver options\r\nand click 'Measure!' to measure the latency");
}

TEST_F(DriverSetup, SelectDriverEntryGivesTheInstantiationErrorAndReenablesTheList) {
    createDialog();
    ASSERT_TRUE(headless::Select(*dlg, ctl::kDriverList, 1)); // "--- Select Driver ---"
    const auto boxes = headless::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Error instantiating ASIO driver");
    EXPECT_EQ(boxes[0].caption, "Tarvelo");
    EXPECT_EQ(boxes[0].type, MB_ICONSTOP);
    EXPECT_TRUE(enabled(ctl::kDriverList));
    EXPECT_EQ(status(), "Initializing ASIO driver...");
    EXPECT_EQ(dlg->m_driverIndex, -1);
}

TEST_F(DriverSetup, FailedInitReleasesTheDriverSoPickingItAgainWorks) {
    settings.initResult = ASIOFalse;
    createDialog();
    ASSERT_TRUE(headless::Select(*dlg, ctl::kDriverList, 0));
    ASSERT_EQ(headless::MessageBoxes().size(), 1u);
    EXPECT_EQ(dlg->m_asio, nullptr);
    EXPECT_EQ(log->entries(), (Calls{"init", "Release"}));

    settings.initResult = ASIOTrue;
    ASSERT_TRUE(headless::Select(*dlg, ctl::kDriverList, 0));
    EXPECT_EQ(headless::MessageBoxes().size(), 1u);
    EXPECT_EQ(dlg->m_driverIndex, 0);
}

TEST_F(DriverSetup, InitResultsOtherThanOneFail) {
    settings.initResult = 2;
    createDialog();
    ASSERT_TRUE(headless::Select(*dlg, ctl::kDriverList, 0));
    EXPECT_EQ(headless::MessageBoxes().size(), 1u);
}

struct PreferredBelowMinimum : ForwardingDriver {
    using ForwardingDriver::ForwardingDriver;
    ASIOError getBufferSize(ASIOLong* minSize, ASIOLong* maxSize, ASIOLong* preferred,
                            ASIOLong* granularity) override {
        *minSize = 64;
        *maxSize = 2048;
        *preferred = 32;
        *granularity = -1;
        return ASE_OK;
    }
    ASIOError createBuffers(ASIOBufferInfo* infos, ASIOLong count, ASIOLong size,
                            ASIOCallbacks* callbacks) override {
        sizes.push_back(size);
        return ForwardingDriver::createBuffers(infos, count, size, callbacks);
    }
    static inline std::vector<ASIOLong> sizes;
};

TEST_F(DriverSetup, PreferredSizeBelowTheMinimumPreviewsAtTheMinimumAndSelectsNothing) {
    PreferredBelowMinimum::sizes.clear();
    useDriver<PreferredBelowMinimum>();
    openDriver();
    EXPECT_EQ(PreferredBelowMinimum::sizes, std::vector<ASIOLong>{64});
    EXPECT_EQ(dlg->m_bufferSize, 32);
    EXPECT_EQ(items(ctl::kBufferSizeList).size(), 6u);
    EXPECT_EQ(control(ctl::kBufferSizeList).GetCurSel(), -1);
}

template <ASIOLong Min, ASIOLong Max, ASIOLong Granularity>
struct FixedSizes : ForwardingDriver {
    using ForwardingDriver::ForwardingDriver;
    ASIOError getBufferSize(ASIOLong* minSize, ASIOLong* maxSize, ASIOLong* preferred,
                            ASIOLong* granularity) override {
        *minSize = Min;
        *maxSize = Max;
        *preferred = Min;
        *granularity = Granularity;
        return ASE_OK;
    }
};

TEST_F(DriverSetup, GranularityZeroListsTheMinimumAndMinimumAboveMaximumNothing) {
    useDriver<FixedSizes<96, 4096, 0>>();
    openDriver();
    EXPECT_EQ(items(ctl::kBufferSizeList), Texts{"96 samples (2.00ms)"});

    useDriver<FixedSizes<512, 256, -1>>();
    openDriver();
    EXPECT_TRUE(items(ctl::kBufferSizeList).empty());
    EXPECT_TRUE(enabled(ctl::kBufferSizeList));
}

TEST_F(DriverSetup, StepGranularityListsEverySizeAndTheHandlerWalksTheSameSequence) {
    useDriver<FixedSizes<100, 1000, 100>>();
    openDriver();
    const Texts sizes = items(ctl::kBufferSizeList);
    ASSERT_EQ(sizes.size(), 10u);
    EXPECT_EQ(sizes.back(), "1000 samples (20.83ms)");
    ASSERT_TRUE(headless::Select(*dlg, ctl::kBufferSizeList, 6));
    EXPECT_EQ(dlg->m_bufferSize, 700);
}

TEST_F(DriverSetup, OddReportedSizesStillGiveABoundedList) {
    struct Case {
        ASIOLong min, max, granularity;
        std::size_t entries;
    };
    for (const Case c : {Case{0, 2048, -1, 1}, Case{-8, 2048, -1, 1}, Case{64, 4096, -7, 1},
                         Case{1 << 29, 0x7FFFFFFF, -1, 2}, Case{0x7FFFFF00, 0x7FFFFFFF, 300, 1},
                         Case{1, 0x7FFFFFFF, 1, kMaxBufferSizeEntries}}) {
        std::size_t entries = 0;
        std::vector<std::int32_t> walked;
        for (BufferSizeWalk w(c.min, c.max, c.granularity); !w.done(); w.next()) {
            walked.push_back(w.size());
            ++entries;
        }
        EXPECT_EQ(entries, c.entries) << c.min << " " << c.max << " " << c.granularity;
        EXPECT_EQ(walked.front(), c.min);
    }
}

TEST_F(DriverSetup, NoSelectionInTheSizeListChangesNothing) {
    openDriver();
    control(ctl::kBufferSizeList).SetCurSel(-1);
    dlg->SendMessage(WM_COMMAND, makeCommandWParam(ctl::kBufferSizeList, CBN_SELCHANGE), 0);
    EXPECT_EQ(dlg->m_bufferSize, 256);
}

TEST_F(DriverSetup, RatesThatAreRefusedOrNotCandidatesAreNotOffered) {
    settings.acceptedRates = {44100, 50000};
    settings.sampleRate = 50000;
    openDriver();
    EXPECT_EQ(items(ctl::kSampleRateList), Texts{"44100 Hz"});
    EXPECT_EQ(control(ctl::kSampleRateList).GetCurSel(), -1);

    settings.acceptedRates = {};
    settings.sampleRate = 48000;
    openDriver();
    EXPECT_TRUE(items(ctl::kSampleRateList).empty());
    EXPECT_TRUE(enabled(ctl::kSampleRateList));
}

TEST_F(DriverSetup, RateSelectionIsAnExactComparison) {
    settings.acceptedRates = {44100, 44100.5};
    settings.sampleRate = 44100.5;
    openDriver();
    EXPECT_EQ(control(ctl::kSampleRateList).GetCurSel(), -1);
    settings.sampleRate = 44100;
    openDriver();
    EXPECT_EQ(control(ctl::kSampleRateList).GetCurSel(), 0);
}

TEST_F(DriverSetup, ZeroRateShowsSizesWithoutATime) {
    struct NoRate : ForwardingDriver {
        using ForwardingDriver::ForwardingDriver;
        ASIOError getSampleRate(ASIOSampleRate* rate) override {
            *rate = 0;
            return ASE_OK;
        }
    };
    useDriver<NoRate>();
    openDriver();
    EXPECT_EQ(items(ctl::kBufferSizeList).front(), "32 samples");
}

struct RefusesRateChanges : ForwardingDriver {
    using ForwardingDriver::ForwardingDriver;
    ASIOError setSampleRate(ASIOSampleRate) override { return ASE_NoClock; }
};

TEST_F(DriverSetup, ARefusedRateChangeLeavesRateAndListsAsTheyWere) {
    useDriver<RefusesRateChanges>();
    openDriver();
    const Texts sizes = items(ctl::kBufferSizeList);
    ASSERT_TRUE(headless::Select(*dlg, ctl::kSampleRateList, 5));
    EXPECT_EQ(dlg->m_measurement.sampleRate(), 48000.0);
    EXPECT_EQ(control(ctl::kSampleRateList).GetCurSel(), 5); // still shows the user's pick
    EXPECT_EQ(items(ctl::kBufferSizeList), sizes);
    EXPECT_TRUE(headless::MessageBoxes().empty());
}

TEST_F(DriverSetup, AnAcceptedRateChangeRefillsBothListsAndKeepsTheChosenSize) {
    openDriver();
    ASSERT_TRUE(headless::Select(*dlg, ctl::kBufferSizeList, 6)); // 2048
    ASSERT_TRUE(headless::Select(*dlg, ctl::kSampleRateList, 2)); // 44100 Hz
    EXPECT_EQ(dlg->m_measurement.sampleRate(), 44100.0);
    EXPECT_EQ(control(ctl::kSampleRateList).GetCurSel(), 2);
    EXPECT_EQ(items(ctl::kBufferSizeList)[3], "256 samples (5.80ms)");
    EXPECT_EQ(control(ctl::kBufferSizeList).GetCurSel(), 6);
    EXPECT_EQ(dlg->m_bufferSize, 2048);
    ASSERT_TRUE(measure());
    EXPECT_EQ(status(), resultText(2 * 2048 + 32, 44100));
}

TEST(AsioMessages, AnswersByTheSelectorTable) {
    EXPECT_EQ(AsioMessageCallback(kAsioSelectorSupported, kAsioEngineVersion, nullptr, nullptr), 1);
    EXPECT_EQ(AsioMessageCallback(kAsioSelectorSupported, kAsioResetRequest, nullptr, nullptr), 1);
    for (ASIOLong value : {1, 4, 7, 15, 0, -1}) {
        EXPECT_EQ(AsioMessageCallback(kAsioSelectorSupported, value, nullptr, nullptr), 0) << value;
    }
    EXPECT_EQ(AsioMessageCallback(kAsioEngineVersion, 0, nullptr, nullptr), 2);
    for (ASIOLong selector :
         std::vector<ASIOLong>{kAsioBufferSizeChange, kAsioResyncRequest, kAsioLatenciesChanged,
                               kAsioSupportsTimeInfo, kAsioSupportsTimeCode, kAsioOverload, 0}) {
        EXPECT_EQ(AsioMessageCallback(selector, 0, nullptr, nullptr), 0) << selector;
    }
}

TEST_F(DriverSetup, RateChangeNoticeStoresTheRateBeforeItsBoxAndTouchesNoList) {
    settings.rateChangeAtSwitch = 1;
    settings.rateChangeTo = 44100;
    settings.loopDelay = 2000;
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
    EXPECT_EQ(boxes[0].type, MB_ICONINFORMATION);
    EXPECT_FALSE(boxes[0].owned);
    EXPECT_EQ(rateWhileShown.load(), 44100.0);
    EXPECT_EQ(items(ctl::kBufferSizeList), sizes);
    EXPECT_EQ(status(), resultText(2 * 256 + 2000, 44100));
}

TEST_F(DriverSetup, RateChangeTextIsCutToItsBuffer) {
    openDriver();
    SampleRateDidChangeCallback(1e300);
    const auto boxes = headless::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.size(), 63u);
    EXPECT_EQ(boxes[0].text.rfind("Sample rate has changed: 1000000", 0), 0u);
}

TEST_F(DriverSetup, AResetRequestDuringAMeasurementReopensTheDriver) {
    settings.resetRequestAtSwitch = 2;
    settings.pacing = SimPacing::RealTime;
    settings.loopDelay = 40000; // not back before the reset is handled
    openDriver();
    const std::size_t before = log->entries().size();
    ASSERT_TRUE(headless::Click(*dlg, ctl::kMeasure));
    ASSERT_TRUE(surface().pumpUntil([&] { return enabled(ctl::kMeasure); }, 20s));
    const auto boxes = headless::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "The driver requested ASIO reset");
    EXPECT_FALSE(boxes[0].owned);
    EXPECT_EQ(dlg->m_resetPending.load(), 0);
    EXPECT_FALSE(dlg->m_measurement.armed());
    const Calls calls = callsSince(before);
    const Calls teardown = {"stop", "disposeBuffers", "Release", "init"};
    EXPECT_NE(std::search(calls.begin(), calls.end(), teardown.begin(), teardown.end()),
              calls.end());
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "controlPanel"), 1);
    EXPECT_EQ(
        status(),
        "Please set corresponding driver options\r\nand click 'Measure!' to measure the latency");

    settings.resetRequestAtSwitch = -1;
    settings.loopDelay = 32;
    // The reset re-created the driver with the settings of that moment; measure on it again.
    dlg->SendMessage(WM_COMMAND, ID_RESET_REQUEST, 0);
    ASSERT_TRUE(measure());
    EXPECT_EQ(status(), "Measurement results: 544 samples / 11.33 ms");
}

TEST_F(DriverSetup, AResetRequestFromInsideTheControlPanelWaitsForTheOpenToFinish) {
    int panels = 0;
    settings.controlPanelHook = [&] {
        if (++panels == 1) {
            AsioMessageCallback(kAsioResetRequest, 0, nullptr, nullptr);
            headless::SurfaceOf(*g_pMainDlg)->pumpPending(); // a panel with a message loop
        }
    };
    openDriver();
    EXPECT_EQ(dlg->m_driverIndex, 0); // the first open ran to its end
    const Calls firstOpen = log->entries();
    ASSERT_TRUE(surface().pumpUntil([&] { return panels == 2; }, 5s));
    surface().pumpPending();
    const Calls calls = log->entries();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "controlPanel"), 2);
    // The teardown came only after the first open's last driver call.
    EXPECT_EQ(calls[firstOpen.size()], "stop");
    EXPECT_EQ(dlg->m_resetPending.load(), 0);
    EXPECT_EQ(dlg->m_driverIndex, 0);
    ASSERT_TRUE(measure());
    EXPECT_EQ(status(), "Measurement results: 544 samples / 11.33 ms");
}

TEST_F(DriverSetup, AfterAFailedReopenNoStepReachesAMissingDriver) {
    openDriver();
    settings.initResult = ASIOFalse;
    dlg->SendMessage(WM_COMMAND, ID_RESET_REQUEST, 0);
    EXPECT_EQ(dlg->m_asio, nullptr);
    EXPECT_TRUE(enabled(ctl::kDriverList));
    const std::size_t before = log->entries().size();
    ASSERT_TRUE(headless::Click(*dlg, ctl::kMeasure));
    ASSERT_TRUE(headless::Select(*dlg, ctl::kSampleRateList, 0));
    dlg->SendMessage(WM_COMMAND, ctl::kStart, 0);
    dlg->SendMessage(WM_COMMAND, ctl::kStop, 0);
    dlg->SendMessage(WM_COMMAND, ctl::kFreeBuffers, 0);
    EXPECT_TRUE(callsSince(before).empty());
    const auto boxes = headless::MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, "No ASIO driver is open.\r\nPlease select a driver again");
}

TEST_F(DriverSetup, AfterASuccessfulOpenTheDriverListTakesNoMorePicks) {
    openDriver();
    EXPECT_FALSE(headless::Select(*dlg, ctl::kDriverList, 0));
}

} // namespace
