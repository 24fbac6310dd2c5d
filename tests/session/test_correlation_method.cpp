// The correlation method end to end: the session's measurement with the simulator on its own
// thread, against what the simulator knows to be the truth.

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

TEST_F(CorrelationMeasurement, FindsFractionalDelaysWithinAHundredthOfASample) {
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
                    EXPECT_NEAR(*result.latencySamples, 2 * size + delay, 0.05);
                    EXPECT_EQ(result.correlation->polarity, 1);
                }
            }
        }
    }
}

TEST_F(CorrelationMeasurement, FindsQuietLoopsUnderNoiseWithTheirPolarity) {
    for (const int gain : {0, -20, -40, -60}) {
        for (const int invert : {0, 1}) {
            const std::string text =
                "gain=" + std::to_string(gain) + ",noise=-80,invert=" + std::to_string(invert);
            SCOPED_TRACE(text);
            const MeasurementResult result = measureWith(text);
            ASSERT_TRUE(result.latencySamples);
            EXPECT_NEAR(*result.latencySamples, 544, 0.05);
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
            floating += result.correlation->floatingInput ? 1 : 0;
        }
    }
    EXPECT_EQ(floating, 100);
}

TEST_F(CorrelationMeasurement, NamesAGhostPathBesideTheRealLoop) {
    const MeasurementResult result = measureWith("ghost_gain=-30,ghost_delay=300");
    ASSERT_TRUE(result.latencySamples);
    EXPECT_NEAR(*result.latencySamples, 544, 0.05);
    ASSERT_TRUE(result.correlation->ghost);
    EXPECT_NEAR(result.correlation->ghost->delaySamples, 2 * 256 + 300, 0.05);
    EXPECT_NEAR(result.correlation->ghost->levelDb, -30, 1);
}

} // namespace
