// The correlation method end to end: the session's measurement with the simulator on its own
// thread, against what the simulator knows to be the truth; and the method's own run-to-run
// behaviour, driven by hand.

#include "engine/correlation_method.h"
#include "engine/hand_loop.h"
#include "session/session_fixture.h"

#include <cmath>

namespace {

class CorrelationMeasurement : public SimSession {
protected:
    // One measurement with the correlation method over `text` settings.
    MeasurementResult measureWith(const std::string& text) {
        openWith(text, true);
        const MeasureOutcome outcome = measure();
        EXPECT_TRUE(outcome.result);
        return outcome.result.value_or(MeasurementResult{});
    }
};

TEST_F(CorrelationMeasurement, NeverGivesANumberWithoutALoop) {
    int floating = 0;
    for (int seed = 1; seed <= 100; ++seed) {
        for (const char* input : {"cable=off", "cable=off,floating=on"}) {
            const std::string text = std::string(input) + ",noise=-70,seed=" + std::to_string(seed);
            SCOPED_TRACE(text);
            const MeasurementResult result = measureWith(text);
            EXPECT_FALSE(result.latencySamples);
            ASSERT_TRUE(result.correlation);
            EXPECT_TRUE(result.correlation->has(Diagnosis::NoLoop));
            EXPECT_EQ(result.verdict.reasons,
                      (std::vector<VerdictReason>{{VerdictReason::NothingCameBack, 48000}}));
            floating += result.correlation->floatingInput ? 1 : 0;
        }
    }
    EXPECT_EQ(floating, 100);
}

// What the simulator can make of a real room and routing, each with the verdict it gets; a
// verified latency is always the cable loop's, with the loop's level and polarity and the
// second path the simulator adds.
TEST_F(CorrelationMeasurement, GivesEachSimulatedSetupItsVerdict) {
    struct Setup {
        const char* text;
        Verdict verdict;
        std::optional<VerdictReason> reason;
        double truth = 544;
    };
    const Setup setups[] = {
        {"gain=-20,noise=-80", Verdict::Verified, {}},
        {"gain=-60,noise=-80,invert=1", Verdict::Verified, {}},
        {"invert=1,noise=-80", Verdict::Verified, {}},
        {"ghost_gain=-30,ghost_delay=300", Verdict::Verified, {}},
        {"hum=50,hum_level=-12,dc=-20", Verdict::Verified, {}},
        {"dc=-10,noise=-60,type=Int16LSB", Verdict::Verified, {}},
        {"hum=60,hum_level=-20,noise=-70,delay=100.3,converter=on", Verdict::Verified, {}, 612.3},
        {"gain=-80,noise=-100", Verdict::Verified, {}},
        {"ghost_gain=0,ghost_delay=0", Verdict::Doubtful,
         VerdictReason{VerdictReason::AmbiguousPaths}},
        {"ghost_gain=-6,ghost_delay=30", Verdict::Doubtful,
         VerdictReason{VerdictReason::AmbiguousPaths, 6}},
        {"gain=12", Verdict::Doubtful, VerdictReason{VerdictReason::SignalUnexplained}},
        {"delay=47400", Verdict::Verified, {}, 47912},
        {"delay=47800", Verdict::NoResult,
         VerdictReason{VerdictReason::LoopLongerThanWindow, 48000}},
        // A rate the host takes but the sweep cannot be built for.
        {"rate=4000,rates=4000", Verdict::NoResult,
         VerdictReason{VerdictReason::RateUnsupported, 4000}},
    };
    for (const Setup& setup : setups) {
        SCOPED_TRACE(setup.text);
        const MeasurementResult result = measureWith(setup.text);
        EXPECT_EQ(result.verdict.verdict, setup.verdict);
        EXPECT_EQ(result.latencySamples.has_value(), setup.verdict != Verdict::NoResult);
        if (setup.reason) {
            ASSERT_FALSE(result.verdict.reasons.empty());
            EXPECT_EQ(result.verdict.reasons.front().kind, setup.reason->kind);
            if (setup.reason->value != 0) {
                EXPECT_NEAR(result.verdict.reasons.front().value, setup.reason->value, 0.1);
            }
        }
        if (!result.verdict.verified()) {
            continue;
        }
        EXPECT_NEAR(*result.latencySamples, setup.truth, 0.05); // within what the noise allows
        EXPECT_EQ(result.correlation->polarity, settings.invertPolarity ? -1 : 1);
        EXPECT_NEAR(result.correlation->levelDb, settings.loopGainDb, 0.5);
        ASSERT_EQ(result.correlation->ghost.has_value(), settings.ghostGainDb.has_value());
        if (settings.ghostGainDb) {
            EXPECT_NEAR(result.correlation->ghost->delaySamples, 2 * 256 + settings.ghostDelay,
                        0.05);
            EXPECT_NEAR(result.correlation->ghost->levelDb, *settings.ghostGainDb, 1);
        }
    }
}

// A recording of the run `method` is prepared for, on its one input: each sweep back after its
// delay from the stimulus's start, at its level in dB.
struct Return {
    const Stimulus& sweep;
    std::size_t delay;
    double db;
};

Recording recordingOf(const CorrelationMethod& method, const std::vector<Return>& returns) {
    const std::size_t start = method.window().stimulusStart;
    Recording recording;
    recording.length = recordingNeeded(method.window(), method.stimulus().samples.size());
    recording.inputs.assign(1, std::vector<float>(recording.length, 0.0f));
    for (const Return& r : returns) {
        const auto gain = static_cast<float>(std::pow(10.0, r.db / 20.0));
        for (std::size_t i = 0; i < r.sweep.samples.size(); ++i) {
            if (start + r.delay + i < recording.length) {
                recording.inputs[0][start + r.delay + i] += gain * r.sweep.samples[i];
            }
        }
    }
    return recording;
}

// Before the sweep, both output halves play silence from the first switch on, whatever they
// held before arming; a buffer size longer than the maximum latency is refused the same way.
TEST(CorrelationMethodByHand, SilencesBothOutputHalvesAtTheFirstSwitch) {
    for (const double maxLatency : {kDefaultMaxLatencySeconds, 0.001}) {
        HandLoop hand(64, ASIOSTFloat32LSB);
        hand.fillOutput(0.5);
        CorrelationMethod method(maxLatency);
        method.prepare(hand.stream, 48000);
        const SwitchVerdict verdict = method.onSwitch(hand.stream, 1, 0, 0, 48000);
        EXPECT_TRUE(hand.outputSilent());
        EXPECT_EQ(verdict.kind,
                  maxLatency < 0.002 ? SwitchVerdict::Ended : SwitchVerdict::Continue);
    }
}

// What the run before played, coming back during this run on a loop longer than a run, is not
// this run's loop; this run's own loop, beside it, is found but not vouched for.
TEST(CorrelationMethodByHand, TheEchoOfTheRunBeforeIsNotThisRunsLoop) {
    const HandLoop hand(64, ASIOSTFloat32LSB);
    CorrelationMethod method;
    method.prepare(hand.stream, 48000);
    const Stimulus before = method.stimulus();
    method.prepare(hand.stream, 48000);
    MeasurementResult echoOnly;
    method.describe(echoOnly, recordingOf(method, {{before, 3000, 0}}));
    EXPECT_EQ(echoOnly.verdict.reasons,
              (std::vector<VerdictReason>{{VerdictReason::NothingCameBack, 48000}}));

    MeasurementResult both;
    method.describe(both, recordingOf(method, {{before, 3000, 0}, {method.stimulus(), 700, -6}}));
    ASSERT_TRUE(both.latencySamples);
    EXPECT_NEAR(*both.latencySamples, 700, 1e-3);
    EXPECT_EQ(both.verdict.verdict, Verdict::Doubtful);
}

// Where a recording of the loop at 700 samples, `loopDb` relative to the sweep, and, when given,
// a second path `offset` samples later at `levelDb` relative to the loop first gives an early
// end, looked for up to `limit` samples.
struct EarlyEnd {
    std::optional<std::size_t> at;
    MeasurementResult result; // of the first prefix accepted
};

EarlyEnd firstEarlyEnd(double loopDb, std::optional<std::pair<std::size_t, double>> second,
                       std::size_t limit) {
    const HandLoop hand(64, ASIOSTFloat32LSB);
    CorrelationMethod method;
    method.prepare(hand.stream, 48000);
    const Stimulus& sweep = method.stimulus();
    std::vector<Return> returns{{sweep, 700, loopDb}};
    if (second) {
        returns.push_back({sweep, 700 + second->first, loopDb + second->second});
    }
    const Recording recording = recordingOf(method, returns);
    EarlyEnd found;
    // Nothing can be complete before the loop's sweep is back.
    for (std::size_t n = method.window().stimulusStart + 700 + sweep.samples.size(); n <= limit;
         n += 512) {
        if (method.complete(recording, n)) {
            found.at = n;
            Recording prefix = recording;
            prefix.length = n;
            method.describe(found.result, prefix);
            break;
        }
    }
    return found;
}

// A run may end once its loop is verified, the whole sweep back and the guard past it watched:
// never while a second path that close may still change the verdict, and for a loop quiet enough
// that a later path could still outrank it, not before the whole window is in.
TEST(CorrelationEarlyEnd, WaitsForWhatCouldStillChangeTheResult) {
    const std::size_t loopEnd = 960 + 700 + 4800; // the quiet lead, the loop, the sweep
    const std::size_t guard = 2400;

    const EarlyEnd alone = firstEarlyEnd(0, std::nullopt, loopEnd + guard);
    ASSERT_TRUE(alone.at);
    ASSERT_TRUE(alone.result.verdict.verified());
    EXPECT_NEAR(*alone.result.latencySamples, 700, 1e-3);

    // A path as strong, inside the guard: the loop is never vouched for.
    EXPECT_FALSE(firstEarlyEnd(0, std::pair{std::size_t{1500}, 0.0}, loopEnd + 1500 + guard).at);

    // A loop 30 dB down leaves room for a path 20 dB above it: half a second on, it may not end
    // yet, and a path 30 dB stronger a third of a second later is the loop once it is back.
    EXPECT_FALSE(firstEarlyEnd(-30, std::nullopt, 24000).at);
    const EarlyEnd outranked = firstEarlyEnd(-30, std::pair{std::size_t{16000}, 30.0}, 24000);
    ASSERT_TRUE(outranked.at);
    EXPECT_GE(*outranked.at, loopEnd + 16000);
    EXPECT_NEAR(outranked.result.latencySamples.value_or(0), 16700, 1e-3);
}

} // namespace
