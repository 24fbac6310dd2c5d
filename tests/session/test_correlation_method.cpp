// The correlation method end to end: the session's measurement with the simulator on its own
// thread, against what the simulator knows to be the truth; and the method's own run-to-run
// behaviour, driven by hand.

#include "engine/correlation_method.h"
#include "session/session_fixture.h"

#include <cmath>

namespace {

class CorrelationMeasurement : public SimSession {
protected:
    // One measurement with the correlation method over `text` settings.
    MeasurementResult measureWith(const std::string& text) {
        std::string error;
        settings = SimSettings{};
        settings.pacing = SimPacing::Freewheel;
        EXPECT_TRUE(parseSimSettings(text, settings, &error)) << error;
        open();
        session->measurement().setMethod(std::make_unique<CorrelationMethod>());
        const MeasureOutcome outcome = measure();
        EXPECT_TRUE(outcome.result);
        return outcome.result.value_or(MeasurementResult{});
    }
};

TEST_F(CorrelationMeasurement, VerifiesFractionalDelaysToATenThousandthOfASample) {
#if defined(TARVELO_SANITIZED)
    GTEST_SKIP() << "168 exact measurements; the sanitizers learn nothing more from them than "
                    "from the other cases here, and would take minutes";
#endif
    for (const char* converter : {"off", "on"}) {
        for (const int rate : {44100, 48000, 96000}) {
            for (int size = 32; size <= 2048; size *= 2) {
                for (const double fraction : {0.0, 0.25, 0.5, 0.73}) {
                    const double delay = 40 + fraction;
                    char text[160];
                    std::snprintf(text, sizeof text, "rate=%d,preferred=%d,delay=%.2f,converter=%s",
                                  rate, size, delay, converter);
                    SCOPED_TRACE(text);
                    const MeasurementResult result = measureWith(text);
                    ASSERT_TRUE(result.latencySamples);
                    EXPECT_NEAR(*result.latencySamples, 2 * size + delay, 1e-4);
                    EXPECT_TRUE(result.verdict.verified());
                    EXPECT_EQ(result.correlation->paths.size(), 1u);
                    EXPECT_EQ(result.correlation->polarity, 1);
                }
            }
        }
    }
}

TEST_F(CorrelationMeasurement, VerifiesQuietLoopsUnderNoiseWithTheirPolarity) {
    for (const int gain : {0, -20, -40, -60}) {
        for (const int invert : {0, 1}) {
            const std::string text =
                "gain=" + std::to_string(gain) + ",noise=-80,invert=" + std::to_string(invert);
            SCOPED_TRACE(text);
            const MeasurementResult result = measureWith(text);
            ASSERT_TRUE(result.latencySamples);
            EXPECT_NEAR(*result.latencySamples, 544, 0.05);
            EXPECT_TRUE(result.verdict.verified());
            EXPECT_EQ(result.correlation->polarity, invert ? -1 : 1);
            EXPECT_NEAR(result.correlation->levelDb, gain, 0.5);
        }
    }
}

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

TEST_F(CorrelationMeasurement, VerifiesTheLoopBesideAWeakSecondPathAndNamesIt) {
    const MeasurementResult result = measureWith("ghost_gain=-30,ghost_delay=300");
    ASSERT_TRUE(result.latencySamples);
    EXPECT_NEAR(*result.latencySamples, 544, 0.05);
    EXPECT_TRUE(result.verdict.verified());
    ASSERT_TRUE(result.correlation->ghost);
    EXPECT_NEAR(result.correlation->ghost->delaySamples, 2 * 256 + 300, 0.05);
    EXPECT_NEAR(result.correlation->ghost->levelDb, -30, 1);
}

// What the simulator can already make of a real room and routing, each with the verdict it
// gets; a verified latency is always the cable loop's.
TEST_F(CorrelationMeasurement, GivesEachSimulatedSetupItsVerdict) {
    struct Setup {
        const char* text;
        Verdict verdict;
        std::optional<VerdictReason> reason;
        double truth = 544;
    };
    const Setup setups[] = {
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
    };
    for (const Setup& setup : setups) {
        SCOPED_TRACE(setup.text);
        const MeasurementResult result = measureWith(setup.text);
        EXPECT_EQ(result.verdict.verdict, setup.verdict);
        if (setup.reason) {
            ASSERT_FALSE(result.verdict.reasons.empty());
            EXPECT_EQ(result.verdict.reasons.front().kind, setup.reason->kind);
            if (setup.reason->value != 0) {
                EXPECT_NEAR(result.verdict.reasons.front().value, setup.reason->value, 0.1);
            }
        }
        if (result.verdict.verified()) { // within what the noise allows
            EXPECT_NEAR(*result.latencySamples, setup.truth, 0.05);
        }
    }
}

// A rate the host takes but the sweep cannot be built for ends the run with the reason, before
// anything is converted or allocated from it.
TEST_F(CorrelationMeasurement, RefusesARateItCannotMeasureWithItsReason) {
    const MeasurementResult result = measureWith("rate=4000,rates=4000");
    EXPECT_FALSE(result.latencySamples);
    EXPECT_EQ(result.verdict.verdict, Verdict::NoResult);
    const std::vector<VerdictReason> refused{{VerdictReason::RateUnsupported, 4000}};
    EXPECT_EQ(result.verdict.reasons, refused);
}

// The method driven by hand over buffers the test owns, as the measurement drives it.
struct HandDriven {
    static constexpr int kFrames = 64;
    static constexpr double kRate = 48000;

    HandDriven() {
        for (int c = 0; c < 2; ++c) {
            channels[c].isInput = c == 0 ? ASIOTrue : ASIOFalse;
            for (int h = 0; h < 2; ++h) {
                channels[c].buffers[h] = halves[c][h].data();
            }
        }
        stream.layout = layoutOf(ASIOSTFloat32LSB);
    }
    float output(int half, int frame) const { return halves[1][half][frame]; }

    std::array<std::array<float, kFrames>, 2> halves[2]{};
    ASIOBufferInfo channels[2]{};
    StreamSnapshot stream{channels, 1, 1, kFrames};
};

// Before the sweep, both output halves play silence from the first switch on, whatever they
// held before arming; a buffer size longer than the maximum latency is refused the same way.
TEST(CorrelationMethodByHand, SilencesBothOutputHalvesAtTheFirstSwitch) {
    for (const double maxLatency : {kDefaultMaxLatencySeconds, 0.001}) {
        HandDriven hand;
        for (auto& half : hand.halves[1]) {
            half.fill(0.5f);
        }
        CorrelationMethod method(maxLatency);
        method.prepare(hand.stream, HandDriven::kRate);
        const SwitchVerdict verdict = method.onSwitch(hand.stream, 1, 0, 0, HandDriven::kRate);
        for (int frame = 0; frame < HandDriven::kFrames; ++frame) {
            EXPECT_EQ(hand.output(0, frame), 0.0f);
            EXPECT_EQ(hand.output(1, frame), 0.0f);
        }
        EXPECT_EQ(verdict.kind,
                  maxLatency < 0.002 ? SwitchVerdict::Ended : SwitchVerdict::Continue);
    }
}

// What the run before played, coming back during this run on a loop longer than a run, is not
// this run's loop; this run's own loop, beside it, is found but not vouched for.
TEST(CorrelationMethodByHand, TheEchoOfTheRunBeforeIsNotThisRunsLoop) {
    HandDriven hand;
    CorrelationMethod method;
    method.prepare(hand.stream, HandDriven::kRate);
    const Stimulus before = method.stimulus();
    method.prepare(hand.stream, HandDriven::kRate);
    const std::size_t start = method.window().stimulusStart;
    const std::size_t length = recordingNeeded(method.window(), before.samples.size());

    Recording recording;
    recording.inputs.assign(1, std::vector<float>(length, 0.0f));
    recording.length = length;
    const auto play = [&](const Stimulus& stimulus, std::size_t at, float gain) {
        for (std::size_t i = 0; i < stimulus.samples.size(); ++i) {
            recording.inputs[0][at + i] += gain * stimulus.samples[i];
        }
    };
    play(before, start + 3000, 1.0f);
    MeasurementResult echoOnly;
    method.describe(echoOnly, recording);
    EXPECT_EQ(echoOnly.verdict.reasons,
              (std::vector<VerdictReason>{{VerdictReason::NothingCameBack, 48000}}));

    play(method.stimulus(), start + 700, 0.5f);
    MeasurementResult both;
    method.describe(both, recording);
    ASSERT_TRUE(both.latencySamples);
    EXPECT_NEAR(*both.latencySamples, 700, 1e-3);
    EXPECT_EQ(both.verdict.verdict, Verdict::Doubtful);
}

} // namespace

namespace {

// Where a recording over HandDriven's stream first gives an early end, looked for up to `limit`
// samples: the loop at 700 samples, `loopDb` relative to the sweep, and, when given, a second path
// `offset` samples later at `levelDb` relative to the loop.
struct EarlyEnd {
    std::optional<std::size_t> at;
    MeasurementResult result; // of the first prefix accepted
};

EarlyEnd firstEarlyEnd(double loopDb, std::optional<std::pair<std::size_t, double>> second,
                       std::size_t limit) {
    HandDriven hand;
    CorrelationMethod method;
    method.prepare(hand.stream, HandDriven::kRate);
    const Stimulus& sweep = method.stimulus();
    const std::size_t start = method.window().stimulusStart;
    const std::size_t length = recordingNeeded(method.window(), sweep.samples.size());
    Recording recording;
    recording.inputs.assign(1, std::vector<float>(length, 0.0f));
    recording.length = length;
    const auto play = [&](std::size_t delay, double db) {
        for (std::size_t i = 0; i < sweep.samples.size() && start + delay + i < length; ++i) {
            recording.inputs[0][start + delay + i] +=
                static_cast<float>(std::pow(10.0, db / 20.0)) * sweep.samples[i];
        }
    };
    play(700, loopDb);
    if (second) {
        play(700 + second->first, loopDb + second->second);
    }
    EarlyEnd found;
    // Nothing can be complete before the loop's sweep is back.
    for (std::size_t n = start + 700 + sweep.samples.size(); n <= limit; n += 512) {
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

} // namespace

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
