#pragma once
// The main dialog on the headless surface, two ways. SimDialogTest: the loopback simulator is its
// only driver and runs on a thread of its own, the dialog is driven by clicks. ArmedDialog: a
// channel array over buffer halves the test owns, as a successful allocation leaves it, so that
// the buffer-switch callback can be driven by hand.

#include "app/resource_ids.h"
#include "app/tarvelo_dlg.h"
#include "drivers/sim/install_memory.h"
#include "framework/headless/headless.h"
#include "platform/memory/memory_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

using Texts = std::vector<std::string>;
using SimPtr = std::unique_ptr<LoopbackSimulator, ReleaseDriver>;

inline Texts messageBoxTexts() {
    Texts texts;
    for (const headless::MessageBoxRecord& box : headless::MessageBoxes()) {
        texts.push_back(box.text);
    }
    return texts;
}

class SimDialogTest : public ::testing::Test {
protected:
    SimDialogTest() {
        headless::ResetEnvironment();
        settings.pacing = SimPacing::Freewheel;
        settings.callLog = log;
        installLoopbackSimulator(
            registry, [this] { return settings; }, "/proc/self/exe");
    }

    // The text form of the simulator's settings, over the ones in force.
    void simulate(std::string_view text) {
        std::string error;
        ASSERT_TRUE(parseSimSettings(text, settings, &error)) << error;
    }
    void createDialog() {
        dlg = std::make_unique<CTarveloDlg>();
        dlg->Create();
    }
    // Makes the dialog (scanning the registry) and picks the simulator, as a user would.
    void openDriver() {
        createDialog();
        ASSERT_TRUE(headless::Select(*dlg, ctl::kDriverList, 0));
    }

    headless::HeadlessDialog& surface() { return *headless::SurfaceOf(*dlg); }
    std::string text(int id) { return dlg->GetDlgItem(id)->GetWindowText(); }
    bool enabled(int id) { return dlg->GetDlgItem(id)->IsWindowEnabled(); }
    Texts items(int id) {
        Texts texts;
        for (const headless::ListItem& item : surface().control(id)->items) {
            texts.push_back(item.text);
        }
        return texts;
    }
    Texts callsSince(std::size_t first) {
        const Texts all = log->entries();
        return {all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())), all.end()};
    }

    // Presses Measure! and runs the modal loop until the chain has ended.
    bool measure() {
        dlg->m_lastResult.reset();
        return headless::Click(*dlg, ctl::kMeasure) &&
               surface().pumpUntil(
                   [&] {
                       return dlg->m_autoMeasure == 0 ||
                              (!dlg->m_measurement.armed() && !dlg->m_streamRunning);
                   },
                   std::chrono::seconds(20));
    }
    // The latency the last measurement showed, -1 for none.
    double measured() const {
        return dlg->m_lastResult ? dlg->m_lastResult->latencySamples.value_or(-1) : -1;
    }
    // What the simulator's time model says a measurement with buffers of `frames` finds.
    double roundTrip(int frames) const { return 2.0 * frames + settings.alignmentDelay(); }

    platform::MemoryPlatform registry;
    platform::ScopedPlatform scoped{registry};
    std::shared_ptr<SimCallLog> log = std::make_shared<SimCallLog>();
    SimSettings settings;
    std::unique_ptr<CTarveloDlg> dlg;
};

struct ArmedDialog {
    ArmedDialog(IASIO* driver, int inputs, int outputs, int frames, double rate,
                ASIOSampleType type = ASIOSTInt32LSB)
        : dlg(std::make_unique<CTarveloDlg>()) {
        dlg->Create();
        dlg->m_autoMeasure = 0;
        dlg->m_asio = driver;
        dlg->m_numInputs = inputs;
        dlg->m_numOutputs = outputs;
        dlg->m_bufferSize = frames;
        dlg->m_measurement.setSampleRate(rate);
        dlg->m_outputInfo.type = type;
        dlg->m_sampleLayout = layoutOf(type);
        dlg->m_sampleBytes = dlg->m_sampleLayout.bytes;
        dlg->m_bufferInfos = CTarveloDlg::BuildChannelArray(inputs, outputs);
        const auto halfBytes =
            static_cast<std::size_t>(frames) * static_cast<std::size_t>(dlg->m_sampleBytes);
        // The inputs hold silence, as a driver that heard nothing hands them over; the outputs
        // hold what no measurement should play.
        memory.assign(static_cast<std::size_t>(inputs) * 2,
                      std::vector<std::uint8_t>(halfBytes, 0));
        memory.resize(static_cast<std::size_t>(inputs + outputs) * 2,
                      std::vector<std::uint8_t>(halfBytes, 0xAB));
        for (int i = 0; i < inputs + outputs; ++i) {
            dlg->m_bufferInfos[i].buffers[0] = half(i, 0);
            dlg->m_bufferInfos[i].buffers[1] = half(i, 1);
        }
    }

    // Arms a measurement the way the chain does, through the command.
    void arm() { dlg->SendMessage(WM_COMMAND, ctl::kMeasureLatency, 0); }
    // Channels count inputs first, as in the channel array.
    std::uint8_t* half(int channel, int h) {
        return memory[2 * static_cast<std::size_t>(channel) + static_cast<std::size_t>(h)].data();
    }

    std::unique_ptr<CTarveloDlg> dlg;
    std::vector<std::vector<std::uint8_t>> memory;
};
