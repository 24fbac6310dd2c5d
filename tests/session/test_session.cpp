// The measurement session end to end: the loopback simulator opened through the catalog and
// switching on its own thread, measured as tarvelo-cli measures, against the simulator's time
// model; the driver's failures, resets and rate changes as the session's owner sees them.

#include "session/hand_session.h"
#include "session/session_fixture.h"

#include <algorithm>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST_F(SimSession, EveryFormatRateSizeAndDelayIsMeasuredExactly) {
    for (const char* type : {"Int16LSB", "Int24LSB", "Int32LSB", "Float32LSB", "Float64LSB",
                             "Int32LSB16", "Int32LSB18", "Int32LSB20", "Int32LSB24"}) {
        for (const char* delay : {"0", "777"}) {
            simulate(std::string("type=") + type + ",delay=" + delay);
            open();
            ASSERT_EQ(session->rates(), settings.acceptedRates);
            for (const ASIOSampleRate rate : settings.acceptedRates) {
                ASSERT_EQ(session->setSampleRate(rate), ASE_OK);
                for (const std::int32_t size : session->bufferSizes()) {
                    ASSERT_TRUE(session->setBufferSize(size));
                    const MeasureOutcome outcome = measure();
                    ASSERT_TRUE(outcome.result) << outcome.problem->driverMessage;
                    ASSERT_EQ(outcome.result->latencySamples, roundTrip(size))
                        << type << ", delay " << delay << ", " << rate << " Hz, " << size;
                    ASSERT_EQ(outcome.result->sampleRate, rate);
                }
            }
        }
    }
}

// The lists hold what the driver offers, the size it prefers is chosen, and every size listed
// allocates: host and driver walk the sizes alike.
TEST_F(SimSession, TheListsHoldWhatTheDriverOffersAndEverySizeListedMeasures) {
    struct Case {
        const char* sim;
        std::vector<ASIOSampleRate> rates;
        std::vector<std::int32_t> sizes;
        std::int32_t chosen;
    };
    const Case cases[] = {
        {"min=48,max=1536,preferred=96", settings.acceptedRates, {48, 96, 192, 384, 768, 1536}, 96},
        {"rates=44100/50000,rate=50000,min=100,max=300,granularity=100,preferred=200",
         {44100},
         {100, 200, 300},
         200},
        {"rates=none,min=512,max=256,preferred=300", {}, {}, 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sim);
        settings = {};
        settings.pacing = SimPacing::Freewheel;
        simulate(c.sim);
        open();
        EXPECT_EQ(session->rates(), c.rates);
        EXPECT_EQ(session->bufferSizes(), c.sizes);
        EXPECT_EQ(session->bufferSize(), c.chosen);
        EXPECT_FALSE(session->setBufferSize(c.chosen + 1));
        for (const std::int32_t size : c.sizes) {
            ASSERT_TRUE(session->setBufferSize(size));
            EXPECT_EQ(measured(), roundTrip(size));
        }
    }
}

TEST_F(SimSession, TheProbeTakesTwoChannelsEachWayAndMeasuringTakesTheChosenOnes) {
    std::vector<std::unique_ptr<LoopbackSimulator, ReleaseDriver>> made;
    registry.registerClass(kLoopbackSimClassId, [&] {
        LoopbackSimulator* sim = createLoopbackSimulator(settings);
        sim->AddRef(); // kept to be asked what it was given
        made.emplace_back(sim);
        return sim;
    });
    simulate("inputs=8,outputs=8,min=64,preferred=32");
    catalog = std::make_unique<DriverCatalog>();
    session = std::make_unique<MeasurementSession>(*catalog, events);
    ASSERT_EQ(session->probe(0), OpenResult::Opened);
    ASSERT_EQ(session->open(0), OpenResult::Opened);
    ASSERT_EQ(made.size(), 2u);
    EXPECT_EQ(made[0]->lastBufferRequest().bufferSize, 64);
    EXPECT_EQ(
        made[0]->lastBufferRequest().channels,
        (std::vector<SimBufferRequest::Channel>{{true, 0}, {true, 1}, {false, 0}, {false, 1}}));
    EXPECT_EQ(session->numInputs(), 8);
    EXPECT_EQ(session->bufferSize(), 32); // preferred as reported, though not offered

    EXPECT_EQ(measure().problem->kind, MeasureProblem::BuffersRefused);
    ASSERT_TRUE(session->setBufferSize(64));
    EXPECT_EQ(measured(), roundTrip(64));
    EXPECT_EQ(made[1]->lastBufferRequest().channels.size(), 16u);

    EXPECT_FALSE(session->selectChannels({{3, 3}, {}}));
    EXPECT_FALSE(session->selectChannels({{8}, {}}));
    ASSERT_TRUE(session->selectChannels({{5, 7}, {7}})); // output 7 is cabled to input 7
    EXPECT_EQ(measured(), roundTrip(64));
    EXPECT_EQ(made[1]->lastBufferRequest().channels,
              (std::vector<SimBufferRequest::Channel>{{true, 5}, {true, 7}, {false, 7}}));
    session->readChannelNames();
    EXPECT_EQ(session->inputNames().at(5), "Sim In 6");
    EXPECT_EQ(session->outputNames().size(), 8u);
}

TEST_F(SimSession, ADriverFailureEndsTheMeasurementInTheDriversWordsAndLeavesNoBuffers) {
    struct Case {
        const char* sim;
        MeasureProblem::Kind problem;
    };
    for (const Case c : {Case{"createfail=NoMemory", MeasureProblem::BuffersRefused},
                         Case{"startfail=HWMalfunction", MeasureProblem::StartRefused}}) {
        SCOPED_TRACE(c.sim);
        settings = {};
        settings.pacing = SimPacing::Freewheel;
        simulate(c.sim);
        open();
        const MeasureOutcome outcome = measure();
        ASSERT_TRUE(outcome.problem);
        EXPECT_EQ(outcome.problem->kind, c.problem);
        EXPECT_NE(outcome.problem->driverMessage.find("injected"), std::string::npos);
        EXPECT_EQ(session->state(), SessionState::Open);
        EXPECT_FALSE(session->channelArray());
    }
    simulate("startfail=off,stopfail=HWMalfunction");
    open();
    const MeasureOutcome stopped = measure();
    EXPECT_EQ(stopped.result->latencySamples, roundTrip(256));
    EXPECT_EQ(stopped.stopError, ASE_HWMalfunction);
    EXPECT_EQ(session->state(), SessionState::Open);
}

TEST_F(SimSession, ResetsAreTakenTheChosenSetupKeptAndTheMeasurementMadeAgain) {
    simulate("reset_at=2,delay=40000"); // nothing comes back before the reset
    open();
    ASSERT_EQ(session->setSampleRate(44100), ASE_OK);
    ASSERT_TRUE(session->setBufferSize(64));
    int heard = 0;
    const MeasureOutcome outcome =
        measureOnce(*session, events, limits, [&](const SessionEvent& event) {
            EXPECT_EQ(event.kind, SessionEventKind::ResetRequest);
            simulate("reset_at=off,delay=32"); // taken by the driver the reset makes anew
            ++heard;
        });
    EXPECT_EQ(heard, 1);
    EXPECT_EQ(outcome.resets, 1);
    ASSERT_TRUE(outcome.result);
    EXPECT_EQ(outcome.result->latencySamples, roundTrip(64));
    EXPECT_EQ(outcome.result->sampleRate, 44100);
    EXPECT_EQ(session->resetPending(), 0);

    AsioMessageCallback(kAsioResetRequest, 0, nullptr, nullptr); // between two measurements
    EXPECT_EQ(measure().resets, 1);

    simulate("reset_at=1");
    open();
    const MeasureOutcome endless = measure();
    EXPECT_EQ(endless.resets, limits.attempts);
    EXPECT_EQ(endless.problem->failure, DriverFailure::TooManyResets);

    simulate("reset_at=1");
    open();
    const MeasureOutcome lost = measureOnce(*session, events, limits, [&](const SessionEvent&) {
        settings.initResult = ASIOFalse; // the driver cannot be opened again
    });
    EXPECT_EQ(lost.problem->failure, DriverFailure::CannotReopen);
    EXPECT_EQ(session->state(), SessionState::Closed);
    std::optional<SessionEvent> told; // the session posted it too, after what was still queued
    while ((told = events.waitUntil(std::chrono::steady_clock::now())) &&
           told->kind != SessionEventKind::DriverFailure) {
    }
    EXPECT_TRUE(told);
}

TEST_F(SimSession, ARateTheDriverAnnouncesMidMeasurementTakesEffectAtOnce) {
    simulate("ratechange_at=1,ratechange_to=44100,delay=2000");
    open();
    std::vector<double> announced;
    const MeasureOutcome outcome =
        measureOnce(*session, events, limits,
                    [&](const SessionEvent& event) { announced.push_back(event.sampleRate); });
    EXPECT_EQ(announced, std::vector<double>{44100});
    EXPECT_EQ(outcome.result->sampleRate, 44100);
    EXPECT_EQ(outcome.result->latencySamples, roundTrip(256));
}

// A driver that makes no switch is a failure once the stall time has passed; an owner that asks
// to stop ends the wait sooner. Either way the stream is stopped and its buffers are gone.
TEST(DriverThatStops, EndsTheMeasurementAfterTheStallTimeOrWhenTheOwnerAsks) {
    const auto stopAfter = [](std::chrono::milliseconds delay) {
        return [end = std::chrono::steady_clock::now() + delay] {
            return std::chrono::steady_clock::now() >= end;
        };
    };
    struct Case {
        WaitLimits limits;
        MeasureProblem::Kind kind;
        DriverFailure failure;
    };
    const Case cases[] = {
        {{.stall = std::chrono::milliseconds(100)},
         MeasureProblem::DriverFailed,
         DriverFailure::StoppedCallingBack},
        {{.stopRequested = stopAfter(std::chrono::milliseconds(300))},
         MeasureProblem::Stopped,
         DriverFailure::None},
        {{.stopRequested = stopAfter({})}, MeasureProblem::Stopped, DriverFailure::None},
    };
    for (const Case& c : cases) {
        HandSession hand(1, 1, 64, 48000);
        hand.session->stop();
        hand.session->disposeBuffers();
        const MeasureOutcome outcome = measureOnce(*hand.session, hand.events, c.limits);
        ASSERT_TRUE(outcome.problem);
        EXPECT_EQ(outcome.problem->kind, c.kind);
        EXPECT_EQ(outcome.problem->failure, c.failure);
        EXPECT_EQ(hand.session->state(), SessionState::Open);
    }
}

// A driver that will not describe its channels leaves their format unknown: that is the
// refusal, not a format read from a record it never filled.
TEST(DriverThatDescribesNoChannel, IsRefusedForThatReason) {
    HandSession hand(1, 1, 64, 48000);
    hand.session->stop();
    hand.session->disposeBuffers();
    hand.driver.channelInfoAnswer = ASE_NotPresent;
    ASSERT_EQ(hand.session->prepare(), ASE_OK);
    ASSERT_EQ(hand.session->start(), ASE_OK);
    EXPECT_EQ(hand.session->arm(), ArmRefusal::ChannelUndescribed);
}

TEST_F(SimSession, ClosingMidMeasurementStopsTheDriverBeforeAnythingIsFreed) {
    simulate("pace=realtime,delay=40000");
    open();
    ASSERT_EQ(session->prepare(), ASE_OK);
    ASSERT_EQ(session->start(), ASE_OK);
    ASSERT_EQ(session->arm(), ArmRefusal::None);
    std::this_thread::sleep_for(30ms); // a few switches on the driver's thread
    const std::size_t before = log->entries().size();
    session.reset();
    EXPECT_EQ(callsSince(before), (Texts{"stop", "disposeBuffers", "Release"}));
    catalog.reset();
    EXPECT_EQ(registry.comUninitializeCount(), registry.comInitializeCount());
}

} // namespace
