// The buffer-switch callback driven by hand, one switch at a time, with the result travelling
// through the dialog's real post queue and modal loop to the status box.

#include "app/resource_ids.h"
#include "app/tarvelo_dlg.h"
#include "asio/sample_types.h"
#include "engine/armed_dialog.h"
#include "engine/sample_format.h"
#include "framework/headless/headless.h"
#include "support/fake_driver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

class PulseDetection : public ::testing::Test {
protected:
    void SetUp() override { headless::ResetEnvironment(); }

    void prepare(int inputs, int outputs, int frames, double rate,
                 ASIOSampleType type = ASIOSTInt32LSB) {
        armed.reset(); // one dialog at a time, as in the program
        armed = std::make_unique<ArmedDialog>(&driver, inputs, outputs, frames, rate, type);
        dlg = armed->dlg.get();
    }

    std::vector<std::vector<std::uint8_t>>& memory() { return armed->memory; }
    std::uint8_t* half(int channel, int h) { return armed->half(channel, h); }
    std::int32_t sample32(int channel, int h, int index) {
        std::int32_t v;
        std::memcpy(&v, half(channel, h) + 4 * index, 4);
        return v;
    }
    void put32(int channel, int h, int index, std::int32_t v) {
        std::memcpy(half(channel, h) + 4 * index, &v, 4);
    }

    void arm() { armed->arm(); }

    // Runs switches until one posts a result, alternating halves from 0; returns the switches run.
    int switchUntilPosted(int limit) {
        for (int k = 0; k < limit; ++k) {
            BufferSwitchCallback(k % 2, ASIOTrue);
            if (!dlg->m_measurement.armed()) {
                return k + 1;
            }
        }
        return -1;
    }

    std::string status() {
        headless::SurfaceOf(*dlg)->pumpUntil([] { return false; }, 50ms);
        return dlg->GetDlgItem(ctl::kStatus)->GetWindowText();
    }

    FakeDriver driver;
    std::unique_ptr<ArmedDialog> armed;
    CTarveloDlg* dlg = nullptr;
};

TEST_F(PulseDetection, ArmingHandsOverWithCountZeroAndTouchesNoBuffer) {
    prepare(2, 2, 64, 48000);
    const auto before = memory();
    arm();
    EXPECT_EQ(memory(), before); // the driver owns the buffers while the stream runs
    EXPECT_EQ(dlg->m_measurement.switchCount(), 0);
    EXPECT_TRUE(dlg->m_measurement.armed());
    EXPECT_FALSE(dlg->GetDlgItem(ctl::kMeasureLatency)->IsWindowEnabled());
    EXPECT_EQ(dlg->GetDlgItem(ctl::kStatus)->GetWindowText(), "Measuring... Please wait");
}

TEST_F(PulseDetection, FirstArmedSwitchSilencesEveryByteThenWritesThePulse) {
    prepare(2, 2, 64, 48000);
    arm();
    BufferSwitchCallback(1, ASIOTrue);
    for (int channel = 0; channel < 4; ++channel) {
        for (int h = 0; h < 2; ++h) {
            const bool pulse = channel >= 2 && h == 1;
            for (int i = 0; i < 64; ++i) {
                ASSERT_EQ(sample32(channel, h, i), pulse ? kPulseLevel : 0)
                    << channel << " " << h << " " << i;
            }
        }
    }
    EXPECT_TRUE(dlg->m_measurement.armed());
}

TEST_F(PulseDetection, UnarmedCallbackTouchesNothing) {
    prepare(1, 1, 16, 48000);
    const auto before = memory();
    BufferSwitchCallback(0, ASIOTrue);
    BufferSwitchCallback(1, ASIOTrue);
    EXPECT_EQ(memory(), before);
    EXPECT_EQ(dlg->m_measurement.switchCount(), 0);
    EXPECT_EQ(driver.outputReadyCalls.load(), 0);
    EXPECT_EQ(headless::SurfaceOf(*dlg)->pumpPending(), 0);
}

TEST_F(PulseDetection, PulseAtCountZeroClearedAtTwoUntouchedOtherwise) {
    prepare(1, 2, 8, 48000);
    arm();
    BufferSwitchCallback(0, ASIOTrue);
    for (int k = 1; k <= 2; ++k) {
        for (int i = 0; i < 8; ++i) {
            ASSERT_EQ(sample32(k, 0, i), 0x40000000);
            ASSERT_EQ(sample32(k, 1, i), 0);
        }
    }
    put32(2, 1, 5, 77); // count 1 leaves outputs alone
    BufferSwitchCallback(1, ASIOTrue);
    EXPECT_EQ(sample32(2, 1, 5), 77);
    BufferSwitchCallback(0, ASIOTrue); // count 2 clears half 0 of every output
    for (int k = 1; k <= 2; ++k) {
        for (int i = 0; i < 8; ++i) {
            ASSERT_EQ(sample32(k, 0, i), 0);
        }
    }
    put32(1, 0, 0, 99);
    BufferSwitchCallback(1, ASIOTrue); // count 3 and on: untouched
    BufferSwitchCallback(0, ASIOTrue);
    EXPECT_EQ(sample32(1, 0, 0), 99);
    EXPECT_EQ(driver.outputReadyCalls.load(), 5);
}

TEST_F(PulseDetection, ThresholdIsStrictAndSensitivityPicksIt) {
    struct Case {
        int position;
        std::int32_t threshold;
    };
    for (const Case c : {Case{0, 0x08000000}, Case{1, 0x10000000}, Case{2, 0x20000000},
                         Case{3, 0x40000000}, Case{-1, 0x20000000}, Case{9, 0x20000000}}) {
        SCOPED_TRACE(c.position);
        prepare(1, 1, 16, 48000);
        dlg->m_measurement.setSensitivity(c.position);
        arm();
        BufferSwitchCallback(0, ASIOTrue);
        put32(0, 1, 4, c.threshold); // equal: not detected
        BufferSwitchCallback(1, ASIOTrue);
        EXPECT_TRUE(dlg->m_measurement.armed());
        put32(0, 0, 6, c.threshold + 1);
        BufferSwitchCallback(0, ASIOTrue);
        EXPECT_FALSE(dlg->m_measurement.armed());
        EXPECT_EQ(status(), "Measurement results: 38 samples / 0.79 ms"); // 2 * 16 + 6
    }
}

TEST_F(PulseDetection, SensitivityListSetsPositionAndMinusOneWithoutSelection) {
    prepare(1, 1, 16, 48000);
    ASSERT_TRUE(headless::Select(*dlg, ctl::kSensitivityList, 0));
    EXPECT_EQ(dlg->m_measurement.sensitivity(), 0);
    dlg->GetDlgItem(ctl::kSensitivityList)->SetCurSel(-1);
    dlg->SendMessage(WM_COMMAND, makeCommandWParam(ctl::kSensitivityList, CBN_SELCHANGE), 0);
    EXPECT_EQ(dlg->m_measurement.sensitivity(), -1);
}

TEST_F(PulseDetection, FirstInputWithASampleAboveWins) {
    prepare(2, 1, 32, 48000);
    arm();
    BufferSwitchCallback(0, ASIOTrue);
    put32(1, 1, 2, kPulseLevel);  // input 1 crosses earlier in the buffer...
    put32(0, 1, 20, kPulseLevel); // ...but input 0 is scanned first
    BufferSwitchCallback(1, ASIOTrue);
    EXPECT_EQ(status(), "Measurement results: 52 samples / 1.08 ms");
}

TEST_F(PulseDetection, The544SampleExample) {
    prepare(2, 2, 256, 48000);
    arm();
    BufferSwitchCallback(0, ASIOTrue);
    BufferSwitchCallback(1, ASIOTrue);
    put32(0, 0, 32, kPulseLevel);
    BufferSwitchCallback(0, ASIOTrue);
    EXPECT_EQ(status(), "Measurement results: 544 samples / 11.33 ms");
    EXPECT_TRUE(dlg->GetDlgItem(ctl::kMeasureLatency)->IsWindowEnabled());
    EXPECT_EQ(dlg->m_measurement.switchCount(), 3); // kept after a found pulse
}

TEST_F(PulseDetection, NothingFoundPostsZeroAtThe188thCallbackAt48kAnd256) {
    prepare(1, 1, 256, 48000);
    arm();
    EXPECT_EQ(switchUntilPosted(1000), 188);
    EXPECT_EQ(dlg->m_measurement.switchCount(), 0);
    EXPECT_EQ(driver.outputReadyCalls.load(), 188);
    EXPECT_EQ(status(), "Can not measure the latency.\r\nPlease check your connections and\r\n"
                        "verify if input/output levels match");
    EXPECT_EQ(headless::MessageBoxes().size(), 0u);
}

TEST_F(PulseDetection, LatestReportableResultIsAt187Switches) {
    prepare(1, 1, 256, 48000);
    arm();
    for (int k = 0; k < 187; ++k) {
        BufferSwitchCallback(k % 2, ASIOTrue);
    }
    put32(0, 187 % 2, 255, kPulseLevel);
    BufferSwitchCallback(187 % 2, ASIOTrue); // finds it and reaches the limit in one call
    ASSERT_FALSE(dlg->m_measurement.armed());
    EXPECT_EQ(dlg->m_measurement.switchCount(), 188); // the limit branch did not run
    EXPECT_EQ(status(), "Measurement results: 48127 samples / 1002.65 ms");
    EXPECT_EQ(headless::SurfaceOf(*dlg)->pumpPending(), 0); // one result only
}

TEST_F(PulseDetection, BufferLargerThanRateEndsAtTheFirstArmedCallback) {
    prepare(1, 1, 2048, 2000.9); // truncated to 2000
    arm();
    EXPECT_EQ(switchUntilPosted(5), 1);
    EXPECT_EQ(status().rfind("Can not measure the latency.", 0), 0u);
}

TEST_F(PulseDetection, RateChangedMidMeasurementAppliesAtTheNextCall) {
    prepare(1, 1, 256, 48000);
    arm();
    for (int k = 0; k < 10; ++k) {
        BufferSwitchCallback(k % 2, ASIOTrue);
    }
    dlg->m_measurement.setSampleRate(2000.0);
    EXPECT_EQ(switchUntilPosted(5), 1);
}

TEST_F(PulseDetection, AbsurdRatesNeitherHangNorOverflow) {
    for (double rate : {0.0, -1.0, std::nan(""), 1e300}) {
        SCOPED_TRACE(rate);
        prepare(1, 1, 64, rate);
        arm();
        const int switches = switchUntilPosted(3);
        EXPECT_EQ(switches, rate > 1e10 ? -1 : 1);
    }
}

TEST_F(PulseDetection, TimeInfoCallbackReturnsNullAndChangesNothing) {
    prepare(1, 1, 16, 48000);
    arm();
    EXPECT_EQ(BufferSwitchTimeInfoCallback(nullptr, 0, ASIOTrue), nullptr);
    EXPECT_EQ(dlg->m_measurement.switchCount(), 0);
    EXPECT_EQ(driver.outputReadyCalls.load(), 0);
}

TEST_F(PulseDetection, UnsupportedFormatIsReportedAndNoBufferIsWritten) {
    for (ASIOSampleType type :
         {ASIOSampleType{ASIOSTInt32MSB}, ASIOSampleType{ASIOSTFloat32MSB}, ASIOSampleType{31}}) {
        SCOPED_TRACE(type);
        prepare(1, 1, 16, 48000, type);
        const auto before = memory();
        arm();
        EXPECT_FALSE(dlg->m_measurement.armed());
        BufferSwitchCallback(0, ASIOTrue);
        EXPECT_EQ(memory(), before);
        const std::string text = dlg->GetDlgItem(ctl::kStatus)->GetWindowText();
        EXPECT_EQ(text.rfind("Can not measure the latency.\r\nThe driver's sample format ", 0), 0u)
            << text;
        EXPECT_NE(text.find(type == 31 ? "(type 31)" : describeSampleType(type)),
                  std::string::npos);
        EXPECT_TRUE(dlg->GetDlgItem(ctl::kMeasureLatency)->IsWindowEnabled());
    }
}

TEST_F(PulseDetection, ResultArrivesFromAnotherThreadThroughTheQueue) {
    prepare(1, 1, 64, 48000);
    arm();
    std::thread driverThread([&] {
        BufferSwitchCallback(0, ASIOTrue);
        put32(0, 1, 10, kPulseLevel);
        BufferSwitchCallback(1, ASIOTrue);
    });
    auto* surface = headless::SurfaceOf(*dlg);
    EXPECT_TRUE(surface->pumpUntil(
        [&] { return dlg->GetDlgItem(ctl::kStatus)->GetWindowText().rfind("Measurement", 0) == 0; },
        5s));
    driverThread.join();
    EXPECT_EQ(dlg->GetDlgItem(ctl::kStatus)->GetWindowText(),
              "Measurement results: 74 samples / 1.54 ms");
}

} // namespace
