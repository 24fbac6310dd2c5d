// A run that lost or repeated periods is never verified: the session watches the driver's sample
// positions inside each switch and hears the trouble it reports, without answering it otherwise.

#include "engine/correlation_method.h"
#include "session/hand_session.h"
#include "session/session_fixture.h"

#include <algorithm>

namespace {

bool hasDropout(const MeasurementResult& result) {
    return std::any_of(result.verdict.reasons.begin(), result.verdict.reasons.end(),
                       [](const VerdictReason& r) { return r.kind == VerdictReason::Dropout; });
}

// The simulator on its own thread, in real time, losing or repeating periods in the middle of
// every run: each method's latency from such a run is doubtful, for the dropout; the same run
// without one is verified.
TEST_F(SimSession, ARunThatLostOrRepeatedPeriodsIsDoubtfulForEitherMethod) {
    struct Case {
        bool correlation;
        const char* text; // the dropout comes well after arming and before the run can end
    };
    const Case cases[] = {
        // Long loops, so that a host slowed down (by a sanitizer, a busy machine) still arms well
        // before the dropout.
        {false, "delay=20000,dropout_at=30,dropout_kind=lost"},
        {false, "delay=20000,dropout_at=30,dropout_kind=repeated,dropout_periods=2"},
        {true, "delay=4000,dropout_at=25,dropout_kind=lost"},
        {true, "delay=4000,dropout_at=25,dropout_kind=repeated"},
        {false, "delay=2000"},
        {true, "delay=32"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        settings = SimSettings{};
        simulate(std::string("pace=realtime,") + c.text);
        open();
        if (c.correlation) {
            session->measurement().setMethod(std::make_unique<CorrelationMethod>());
        }
        const MeasureOutcome outcome = measure();
        ASSERT_TRUE(outcome.result);
        const bool dropped = settings.dropoutAtSwitch >= 0;
        EXPECT_EQ(hasDropout(*outcome.result), dropped);
        EXPECT_EQ(outcome.result->verdict.verdict, dropped ? Verdict::Doubtful : Verdict::Verified);
    }
}

// The driver's own word: a resync request or an overload during a run makes it doubtful, while
// the host keeps telling the driver that it supports neither, and answers both with 0. A period
// the driver's positions show lost makes it doubtful the same way.
TEST(DriverTrouble, ReachesTheRunWithoutChangingWhatTheHostAnswers) {
    EXPECT_EQ(AsioMessageCallback(kAsioSelectorSupported, kAsioResetRequest, nullptr, nullptr), 1);
    EXPECT_EQ(AsioMessageCallback(kAsioSelectorSupported, kAsioEngineVersion, nullptr, nullptr), 1);
    EXPECT_EQ(AsioMessageCallback(kAsioSelectorSupported, kAsioOverload, nullptr, nullptr), 0);
    EXPECT_EQ(AsioMessageCallback(kAsioSelectorSupported, kAsioResyncRequest, nullptr, nullptr), 0);

    enum class Trouble { None, Resync, Overload, LostPeriod };
    for (const Trouble trouble :
         {Trouble::None, Trouble::Resync, Trouble::Overload, Trouble::LostPeriod}) {
        HandSession hand(1, 1, 64, 48000);
        // The pulse, one buffer at half scale, back 2B + 32 samples after it was written.
        hand.heard = [](int, std::int64_t n) { return n >= 160 && n < 224 ? 0.5 : 0.0; };
        ASSERT_EQ(hand.session->arm(), ArmRefusal::None);
        hand.driverSwitch();
        switch (trouble) {
        case Trouble::None:
            break;
        case Trouble::Resync:
            EXPECT_EQ(AsioMessageCallback(kAsioResyncRequest, 0, nullptr, nullptr), 0);
            break;
        case Trouble::Overload:
            EXPECT_EQ(AsioMessageCallback(kAsioOverload, 0, nullptr, nullptr), 0);
            break;
        case Trouble::LostPeriod:
            ++hand.switches;
            break;
        }
        ASSERT_GT(hand.switchesUntilEnded(10), 0);
        const std::optional<MeasurementResult> result = hand.session->collectResult();
        ASSERT_TRUE(result && result->latencySamples);
        EXPECT_EQ(hasDropout(*result), trouble != Trouble::None);
        EXPECT_EQ(result->verdict.verdict,
                  trouble == Trouble::None ? Verdict::Verified : Verdict::Doubtful);
    }
}

} // namespace
