#pragma once
// A main dialog with a channel array whose buffer halves the caller owns, set up as a
// successful allocation leaves it, so the buffer-switch callback can be driven by hand.

#include "app/resource_ids.h"
#include "app/tarvelo_dlg.h"

#include <cstdint>
#include <memory>
#include <vector>

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
        memory.assign(static_cast<std::size_t>(inputs + outputs) * 2,
                      std::vector<std::uint8_t>(halfBytes, 0xAB));
        for (int i = 0; i < inputs + outputs; ++i) {
            dlg->m_bufferInfos[i].buffers[0] = memory[2 * static_cast<std::size_t>(i)].data();
            dlg->m_bufferInfos[i].buffers[1] = memory[2 * static_cast<std::size_t>(i) + 1].data();
        }
    }

    // Arms a measurement the way the chain does, through the command.
    void arm() { dlg->SendMessage(WM_COMMAND, ctl::kMeasureLatency, 0); }

    std::uint8_t* half(int channel, int h) {
        return memory[2 * static_cast<std::size_t>(channel) + static_cast<std::size_t>(h)].data();
    }

    std::unique_ptr<CTarveloDlg> dlg;
    std::vector<std::vector<std::uint8_t>> memory;
};
