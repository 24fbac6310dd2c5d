// The Measure! chain end to end: clicks on the headless dialog, the simulator on its own thread,
// the result through the real post queue and modal loop.

#include "asio/sample_types.h"
#include "engine/forwarding_driver.h"
#include "engine/sim_dialog.h"

#include <thread>

namespace {

using namespace std::chrono_literals;
using Calls = std::vector<std::string>;

class MeasureChain : public SimDialogTest {};

TEST_F(MeasureChain, OnePressAllocatesStartsAndArmsBeforeReturning) {
    openDriver();
    const std::size_t before = log->entries().size();
    ASSERT_TRUE(headless::Click(*dlg, ctl::kMeasure));
    // Nothing has been pumped yet, so the result cannot have been shown: the status is the
    // arming text, and the driver was called in the chain's order.
    EXPECT_EQ(status(), "Measuring... Please wait");
    EXPECT_EQ(callsSince(before), (Calls{"createBuffers", "getLatencies", "getChannelInfo",
                                         "getChannelInfo", "start"}));
    EXPECT_FALSE(enabled(ctl::kMeasure));
    EXPECT_EQ(control(ctl::kReportedLatencies).GetWindowText(), "in: 264 out: 272");
    EXPECT_EQ(dlg->m_sampleBytes, 4);

    ASSERT_TRUE(surface().pumpUntil([&] { return dlg->m_autoMeasure == 0; }, 20s));
    EXPECT_EQ(status(), "Measurement results: 544 samples / 11.33 ms");
    const Calls after = callsSince(before);
    EXPECT_EQ(Calls(after.end() - 2, after.end()), (Calls{"stop", "disposeBuffers"}));
    EXPECT_EQ(dlg->m_bufferInfos, nullptr);
    for (int id :
         {ctl::kBufferSizeList, ctl::kAllocateBuffers, ctl::kSampleRateList, ctl::kMeasure}) {
        EXPECT_TRUE(enabled(id)) << id;
    }
    for (int id : {ctl::kStart, ctl::kStop, ctl::kMeasureLatency, ctl::kFreeBuffers}) {
        EXPECT_FALSE(enabled(id)) << id;
    }
}

TEST_F(MeasureChain, StatusTextsOfAWholeRunInOrder) {
    openDriver();
    ASSERT_TRUE(measure());
    EXPECT_EQ(headless::DebugOutputTexts(),
              (Calls{"Initialization... Enumerating ASIO drivers...", "Please select ASIO driver",
                     "Initializing ASIO driver...",
                     "Please set corresponding driver options\r\nand click 'Measure!' to measure "
                     "the latency",
                     "Measuring... Please wait", "Measurement results: 544 samples / 11.33 ms"}));
    EXPECT_TRUE(headless::MessageBoxes().empty());
}

TEST_F(MeasureChain, EveryRateSizeFormatAndDelayIsMeasuredExactly) {
    const ASIOSampleType formats[] = {ASIOSTInt16LSB,   ASIOSTInt24LSB,   ASIOSTInt32LSB,
                                      ASIOSTFloat32LSB, ASIOSTFloat64LSB, ASIOSTInt32LSB16,
                                      ASIOSTInt32LSB18, ASIOSTInt32LSB20, ASIOSTInt32LSB24};
    for (ASIOSampleType format : formats) {
        for (int delay : {0, 32, 777}) {
            settings.sampleType = format;
            settings.loopDelay = delay;
            openDriver();
            const auto rates = surface().control(ctl::kSampleRateList)->items;
            ASSERT_EQ(rates.size(), 6u);
            for (int r = 0; r < 6; ++r) {
                ASSERT_TRUE(headless::Select(*dlg, ctl::kSampleRateList, r));
                const double rate = rates[static_cast<std::size_t>(r)].data;
                ASSERT_EQ(items(ctl::kBufferSizeList).size(), 7u);
                for (int s = 0; s < 7; ++s) {
                    const int size = 32 << s;
                    ASSERT_TRUE(headless::Select(*dlg, ctl::kBufferSizeList, s));
                    ASSERT_TRUE(measure());
                    ASSERT_EQ(status(), resultText(2 * size + delay, rate))
                        << describeSampleType(format) << " L=" << delay << " " << rate << " Hz";
                }
            }
        }
    }
}

TEST_F(MeasureChain, TwoMeasurementsInARowOnOneOpenDriver) {
    settings.loopDelay = 100;
    openDriver();
    ASSERT_TRUE(measure());
    EXPECT_EQ(status(), resultText(612, 48000));
    ASSERT_TRUE(measure());
    EXPECT_EQ(status(), resultText(612, 48000));
    EXPECT_EQ(dlg->m_driverIndex, 0);
}

TEST_F(MeasureChain, RealTimePacingMeasuresTheSame) {
    settings.pacing = SimPacing::RealTime;
    openDriver();
    ASSERT_TRUE(measure());
    EXPECT_EQ(status(), "Measurement results: 544 samples / 11.33 ms");
}

TEST_F(MeasureChain, NoCableReportsThatNothingCameBack) {
    settings.routing = std::vector<int>{kNoCable, kNoCable};
    openDriver();
    ASSERT_TRUE(measure());
    EXPECT_EQ(status(), "Can not measure the latency.\r\nPlease check your connections and\r\n"
                        "verify if input/output levels match");
    EXPECT_TRUE(enabled(ctl::kMeasure));
}

TEST_F(MeasureChain, AnInvertedLoopIsNotDetectedAndAQuietOneOnlyAtHigherSensitivity) {
    settings.invertPolarity = true;
    openDriver();
    ASSERT_TRUE(measure());
    EXPECT_EQ(status().rfind("Can not measure the latency.", 0), 0u);

    settings = SimSettings{};
    settings.pacing = SimPacing::Freewheel;
    settings.callLog = log;
    settings.loopGainDb = -9; // the pulse comes back at about -15 dBFS
    openDriver();
    ASSERT_TRUE(measure());
    EXPECT_EQ(status().rfind("Can not measure the latency.", 0), 0u);
    ASSERT_TRUE(headless::Select(*dlg, ctl::kSensitivityList, 1)); // -18 dB
    ASSERT_TRUE(measure());
    EXPECT_EQ(status(), "Measurement results: 544 samples / 11.33 ms");
}

TEST_F(MeasureChain, EightByEightMeasuresOnAllSixteenChannels) {
    settings.inputs = 8;
    settings.outputs = 8;
    struct Request {
        ASIOLong count;
        std::vector<std::pair<ASIOBool, ASIOLong>> channels;
    };
    auto requests = std::make_shared<std::vector<Request>>();
    registry.registerClass(kLoopbackSimClassId, [this, requests]() -> IASIO* {
        struct Recording : ForwardingDriver {
            Recording(IASIO* inner, std::shared_ptr<std::vector<Request>> r)
                : ForwardingDriver(inner)
                , seen(std::move(r)) {}
            ASIOError createBuffers(ASIOBufferInfo* infos, ASIOLong count, ASIOLong size,
                                    ASIOCallbacks* callbacks) override {
                Request r{count, {}};
                for (ASIOLong i = 0; i < count; ++i) {
                    r.channels.emplace_back(infos[i].isInput, infos[i].channelNum);
                }
                seen->push_back(r);
                return ForwardingDriver::createBuffers(infos, count, size, callbacks);
            }
            std::shared_ptr<std::vector<Request>> seen;
        };
        return new Recording(createLoopbackSimulator(settings), requests);
    });
    openDriver();
    ASSERT_EQ(requests->size(), 1u); // the preview: two inputs, then two outputs
    EXPECT_EQ(requests->at(0).channels,
              (std::vector<std::pair<ASIOBool, ASIOLong>>{{1, 0}, {1, 1}, {0, 0}, {0, 1}}));
    EXPECT_EQ(control(ctl::kInputsField).GetWindowText(), "8");
    EXPECT_EQ(control(ctl::kOutputsField).GetWindowText(), "8");
    EXPECT_EQ(dlg->m_numInputs, 8);
    ASSERT_TRUE(measure());
    EXPECT_EQ(status(), "Measurement results: 544 samples / 11.33 ms");
    ASSERT_EQ(requests->size(), 2u);
    EXPECT_EQ(requests->at(1).count, 16);
    EXPECT_EQ(requests->at(1).channels[8], (std::pair<ASIOBool, ASIOLong>{0, 0}));
}

TEST_F(MeasureChain, FailedAllocationShowsItsBoxAndEndsTheChain) {
    settings.createBuffersFailure = ASE_NoMemory;
    openDriver();
    EXPECT_TRUE(measure());
    const auto boxes = headless::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "ASIO Driver failed to allocate buffers");
    EXPECT_EQ(boxes[0].caption, "Tarvelo");
    EXPECT_EQ(boxes[0].type, MB_ICONSTOP);
    EXPECT_TRUE(boxes[0].owned);
    EXPECT_EQ(dlg->m_bufferInfos, nullptr);
    EXPECT_FALSE(enabled(ctl::kMeasure));
    EXPECT_EQ(dlg->m_autoMeasure, 1);
}

TEST_F(MeasureChain, FailedAllocationWhileAResetIsPendingIsSilentAndKeepsTheArray) {
    settings.createBuffersFailure = ASE_NoMemory;
    openDriver();
    dlg->m_resetPending = 1;
    const std::size_t before = log->entries().size();
    ASSERT_TRUE(headless::Click(*dlg, ctl::kMeasure));
    EXPECT_TRUE(headless::MessageBoxes().empty());
    EXPECT_NE(dlg->m_bufferInfos, nullptr);
    EXPECT_EQ(callsSince(before), Calls{"createBuffers"});
    EXPECT_FALSE(enabled(ctl::kMeasure));
}

TEST_F(MeasureChain, FailedStartDisposesTwiceAndArmsNothing) {
    settings.startFailure = ASE_HWMalfunction;
    openDriver();
    const std::size_t before = log->entries().size();
    ASSERT_TRUE(headless::Click(*dlg, ctl::kMeasure));
    EXPECT_EQ(callsSince(before),
              (Calls{"createBuffers", "getLatencies", "getChannelInfo", "getChannelInfo", "start",
                     "stop", "disposeBuffers", "disposeBuffers"}));
    const auto boxes = headless::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Error starting playback/recording");
    EXPECT_FALSE(dlg->m_measurement.armed());
    EXPECT_EQ(dlg->m_autoMeasure, 0);
    EXPECT_TRUE(enabled(ctl::kMeasure));
    EXPECT_NE(status(), "Measuring... Please wait");
}

TEST_F(MeasureChain, FailedStopStillFreesTheBuffersAndEnablesMeasure) {
    settings.stopFailure = ASE_HWMalfunction;
    openDriver();
    ASSERT_TRUE(measure());
    EXPECT_EQ(status(), "Measurement results: 544 samples / 11.33 ms");
    const auto boxes = headless::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Error stopping playback/recording");
    const Calls calls = log->entries();
    EXPECT_EQ(calls.back(), "disposeBuffers");
    EXPECT_EQ(dlg->m_bufferInfos, nullptr);
    EXPECT_TRUE(enabled(ctl::kMeasure));
}

TEST_F(MeasureChain, AStepSentAsACommandRunsThoughItsButtonIsHiddenAndDisabled) {
    openDriver();
    dlg->m_autoMeasure = 0;
    ASSERT_FALSE(headless::Click(*dlg, ctl::kAllocateBuffers)); // no hand can reach it
    dlg->SendMessage(WM_COMMAND, ctl::kAllocateBuffers, 0);
    EXPECT_NE(dlg->m_bufferInfos, nullptr);
    EXPECT_TRUE(enabled(ctl::kStart));
    EXPECT_FALSE(enabled(ctl::kBufferSizeList));
    dlg->SendMessage(WM_COMMAND, ctl::kFreeBuffers, 0);
    EXPECT_EQ(dlg->m_bufferInfos, nullptr);
    EXPECT_TRUE(enabled(ctl::kBufferSizeList));
}

TEST_F(MeasureChain, UnsupportedSampleFormatIsReportedAndTheChainEnds) {
    // A driver whose output channel reports a big-endian type.
    registry.registerClass(kLoopbackSimClassId, [this]() -> IASIO* {
        struct BigEndian : ForwardingDriver {
            using ForwardingDriver::ForwardingDriver;
            ASIOError getChannelInfo(ASIOChannelInfo* info) override {
                const ASIOError result = ForwardingDriver::getChannelInfo(info);
                info->type = ASIOSTInt32MSB;
                return result;
            }
        };
        return new BigEndian(createLoopbackSimulator(settings));
    });
    openDriver();
    ASSERT_TRUE(measure());
    EXPECT_EQ(status(), "Can not measure the latency.\r\nThe driver's sample format Int32MSB\r\n"
                        "is not supported");
    EXPECT_EQ(dlg->m_autoMeasure, 0);
    EXPECT_TRUE(enabled(ctl::kMeasure));
    EXPECT_EQ(log->entries().back(), "disposeBuffers");
}

TEST_F(MeasureChain, QuittingMidMeasurementStopsTheDriverBeforeAnythingIsFreed) {
    settings.pacing = SimPacing::RealTime;
    settings.loopDelay = 40000; // the pulse would take most of a second to come back
    openDriver();
    ASSERT_TRUE(headless::Click(*dlg, ctl::kMeasure));
    ASSERT_TRUE(dlg->m_measurement.armed());
    std::this_thread::sleep_for(30ms); // let the driver's thread run a few switches
    const std::size_t before = log->entries().size();
    dlg.reset();
    const Calls calls = callsSince(before);
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "stop");
    EXPECT_EQ(calls[1], "disposeBuffers");
    EXPECT_EQ(calls.back(), "Release");
}

TEST_F(MeasureChain, DestroyingWithTheDriverOpenClosesItsEntryAndReleasesIt) {
    openDriver();
    const std::size_t before = log->entries().size();
    dlg.reset();
    EXPECT_EQ(callsSince(before), Calls{"Release"});
    EXPECT_EQ(registry.comUninitializeCount(), registry.comInitializeCount());
}

} // namespace
