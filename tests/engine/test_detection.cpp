// The buffer-switch callback driven by hand, one switch at a time, with the result travelling
// through the dialog's real post queue and modal loop to the status box.

#include "asio/sample_types.h"
#include "engine/dialog_fixture.h"
#include "engine/sample_format.h"
#include "support/fake_driver.h"

#include <cmath>

namespace {

class Detection : public ::testing::Test {
protected:
    void SetUp() override { headless::ResetEnvironment(); }

    void prepare(int inputs, int outputs, int frames, double rate,
                 ASIOSampleType type = ASIOSTInt32LSB) {
        armed.reset(); // one dialog at a time, as in the program
        driver.outputReadyCalls = 0;
        armed = std::make_unique<ArmedDialog>(&driver, inputs, outputs, frames, rate, type);
    }
    CTarveloDlg& dlg() { return *armed->dlg; }
    // Switches on alternating halves from 0 until the measurement ends: how many ran, or -1.
    int switchesUntilEnded(int limit) {
        for (int k = 0; k < limit; ++k) {
            BufferSwitchCallback(k % 2, ASIOTrue);
            if (!dlg().m_measurement.armed()) {
                return k + 1;
            }
        }
        return -1;
    }
    std::string status() {
        headless::SurfaceOf(dlg())->pumpPending();
        return dlg().GetDlgItem(ctl::kStatus)->GetWindowText();
    }

    FakeDriver driver;
    std::unique_ptr<ArmedDialog> armed;
};

class EveryFormat : public Detection, public ::testing::WithParamInterface<ASIOSampleType> {};

TEST_P(EveryFormat, PulseSilenceStrictThresholdAndHalvesAsTheDriverSeesThem) {
    const SampleLayout layout = layoutOf(GetParam());
    const double lsb = layout.encoding == SampleEncoding::Integer ? std::ldexp(1.0, 1 - layout.bits)
                       : layout.bytes == 4 ? double{std::nextafter(0.25f, 1.0f)} - 0.25
                                           : std::nextafter(0.25, 1.0) - 0.25;
    // Every sample silent from `first` channel on, but for the pulse on half 1 of the outputs.
    const auto expectSilenceFrom = [&](int first, double pulse) {
        for (int c = first; c < 4; ++c) {
            for (int h = 0; h < 2; ++h) {
                for (int i = 0; i < 16; ++i) {
                    ASSERT_EQ(readNormalised(armed->half(c, h), i, layout),
                              c >= 2 && h == 1 ? pulse : 0.0)
                        << "channel " << c << " half " << h << " sample " << i;
                }
            }
        }
    };
    prepare(2, 2, 16, 48000, GetParam());
    const auto untouched = armed->memory;
    BufferSwitchCallback(0, ASIOTrue);
    armed->arm();
    EXPECT_EQ(armed->memory, untouched); // the driver's buffers until the first armed switch
    EXPECT_EQ(driver.outputReadyCalls, 0);

    BufferSwitchCallback(1, ASIOTrue); // switch 0: all silent, the pulse on each output's half
    expectSilenceFrom(0, 0.5);
    writeNormalised(armed->half(0, 0), 3, 0.25, layout); // the -12 dB threshold: not above it
    writeNormalised(armed->half(0, 0), 5, -1.0, layout);
    BufferSwitchCallback(0, ASIOTrue);
    ASSERT_TRUE(dlg().m_measurement.armed());

    writeNormalised(armed->half(1, 1), 2, 0.25 + lsb, layout); // earlier in its half, but
    writeNormalised(armed->half(0, 1), 9, 0.25 + lsb, layout); // input 0 is scanned first
    BufferSwitchCallback(1, ASIOTrue); // switch 2: the pulse's half comes round and is silenced
    ASSERT_FALSE(dlg().m_measurement.armed());
    expectSilenceFrom(2, 0.0);
    status();
    ASSERT_TRUE(dlg().m_lastResult.has_value());
    EXPECT_EQ(dlg().m_lastResult->latencySamples, 2 * 16 + 9);
    EXPECT_EQ(dlg().m_lastResult->threshold->input, 0);
    EXPECT_EQ(driver.outputReadyCalls, 3);
}

INSTANTIATE_TEST_SUITE_P(Supported, EveryFormat,
                         ::testing::Values(ASIOSTInt16LSB, ASIOSTInt24LSB, ASIOSTInt32LSB,
                                           ASIOSTInt32LSB16, ASIOSTInt32LSB18, ASIOSTInt32LSB20,
                                           ASIOSTInt32LSB24, ASIOSTFloat32LSB, ASIOSTFloat64LSB),
                         [](const auto& param) { return describeSampleType(param.param); });

TEST_F(Detection, NothingFoundEndsAfterOneSecondOfSamplesAtTheRateTruncated) {
    struct Case {
        int frames;
        double rate;
        int switches; // -1: not within 1000
    };
    for (const Case c :
         {Case{256, 48000, 188}, Case{2001, 2000.9, 1}, Case{667, 2000.9, 3}, Case{64, 0, 1},
          Case{64, -1, 1}, Case{64, std::nan(""), 1}, Case{64, 1e300, -1}}) {
        SCOPED_TRACE(::testing::Message() << c.frames << " frames at " << c.rate << " Hz");
        prepare(1, 1, c.frames, c.rate);
        armed->arm();
        ASSERT_EQ(switchesUntilEnded(1000), c.switches);
        if (c.switches > 0) {
            EXPECT_EQ(driver.outputReadyCalls, c.switches);
            EXPECT_EQ(status(), "Can not measure the latency.\r\nPlease check your connections "
                                "and\r\nverify if input/output levels match");
        }
    }
}

TEST_F(Detection, APulseInTheLastSampleBeforeTheLimitIsStillFound) {
    prepare(1, 1, 256, 48000);
    armed->arm();
    for (int k = 0; k < 187; ++k) {
        BufferSwitchCallback(k % 2, ASIOTrue);
    }
    writeNormalised(armed->half(0, 1), 255, 0.5, dlg().m_sampleLayout);
    BufferSwitchCallback(1, ASIOTrue); // switch 187 finds it and reaches the limit
    EXPECT_EQ(status(), "Measurement results: 48127 samples / 1002.65 ms");
    EXPECT_EQ(headless::SurfaceOf(dlg())->pumpPending(), 0); // one result only
}

TEST_F(Detection, AStreamItCannotMeasureIsReportedAndNoBufferIsTouched) {
    struct Case {
        int inputs;
        int outputs;
        ASIOSampleType type;
        const char* status;
    };
    const Case cases[] = {
        {1, 0, ASIOSTInt32LSB, "Can not measure the latency.\r\nThe driver has no output channel"},
        {0, 1, ASIOSTInt32LSB, "Can not measure the latency.\r\nThe driver has no input channel"},
        {1, 1, ASIOSTInt32MSB,
         "Can not measure the latency.\r\nThe driver's sample format Int32MSB\r\nis not supported"},
        {1, 1, 31,
         "Can not measure the latency.\r\nThe driver's sample format (type 31)\r\nis not "
         "supported"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        prepare(c.inputs, c.outputs, 16, 48000, c.type);
        const auto untouched = armed->memory;
        armed->arm();
        BufferSwitchCallback(0, ASIOTrue);
        BufferSwitchCallback(1, ASIOTrue);
        EXPECT_EQ(armed->memory, untouched);
        EXPECT_FALSE(dlg().m_measurement.armed());
        EXPECT_EQ(status(), c.status);
        EXPECT_TRUE(dlg().GetDlgItem(ctl::kMeasureLatency)->IsWindowEnabled());
    }
}

TEST_F(Detection, AResultThatARearmOvertookIsNotShown) {
    prepare(1, 1, 16, 48000);
    armed->arm();
    BufferSwitchCallback(0, ASIOTrue);
    writeNormalised(armed->half(0, 1), 0, 0.5, dlg().m_sampleLayout);
    BufferSwitchCallback(1, ASIOTrue); // ends and posts its result
    ASSERT_FALSE(dlg().m_measurement.armed());
    armed->arm(); // before the result was handled
    EXPECT_EQ(status(), "Measuring... Please wait");
    EXPECT_TRUE(dlg().m_measurement.armed());
    EXPECT_FALSE(dlg().m_lastResult.has_value());
}

} // namespace
