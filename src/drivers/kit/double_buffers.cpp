#include "drivers/kit/double_buffers.h"

namespace kit {

namespace {

std::string describe(bool isInput, ASIOLong channel) {
    return std::string(isInput ? "input " : "output ") + std::to_string(channel);
}

} // namespace

std::string whyRefused(const ASIOBufferInfo* infos, ASIOLong numChannels,
                       const ASIOCallbacks* callbacks, ChannelCounts counts,
                       std::string sizeRefusal) {
    if (callbacks == nullptr || callbacks->bufferSwitch == nullptr) {
        return "no bufferSwitch callback";
    }
    if (infos == nullptr || numChannels < 1) {
        return "no channels asked for";
    }
    if (!sizeRefusal.empty()) {
        return sizeRefusal;
    }
    std::vector<bool> inputTaken(static_cast<std::size_t>(counts.inputs), false);
    std::vector<bool> outputTaken(static_cast<std::size_t>(counts.outputs), false);
    for (ASIOLong i = 0; i < numChannels; ++i) {
        const bool isInput = infos[i].isInput != ASIOFalse;
        const ASIOLong channel = infos[i].channelNum;
        auto& taken = isInput ? inputTaken : outputTaken;
        const std::string what = describe(isInput, channel) + " (record " + std::to_string(i) + ")";
        if (channel < 0 || static_cast<std::size_t>(channel) >= taken.size()) {
            return "there is no " + what;
        }
        if (taken[static_cast<std::size_t>(channel)]) {
            return what + " is asked for twice";
        }
        taken[static_cast<std::size_t>(channel)] = true;
    }
    return {};
}

std::string whyNoChannel(const ASIOChannelInfo* info, ChannelCounts counts) {
    if (info == nullptr) {
        return "null pointer";
    }
    const bool isInput = info->isInput != ASIOFalse;
    const ASIOLong count = isInput ? counts.inputs : counts.outputs;
    return info->channel >= 0 && info->channel < count ? ""
                                                       : "no " + describe(isInput, info->channel);
}

DoubleBuffers::DoubleBuffers(const ASIOBufferInfo* infos, ASIOLong numChannels, ASIOLong frames,
                             std::size_t sampleBytes)
    : m_frames(frames) {
    const std::size_t halfBlocks =
        (static_cast<std::size_t>(frames) * sampleBytes + sizeof(Block) - 1) / sizeof(Block);
    const auto count = static_cast<std::size_t>(numChannels);
    m_memory.resize(count * 2 * halfBlocks);
    m_channels.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        Channel& c = m_channels[i];
        c.isInput = infos[i].isInput != ASIOFalse;
        c.channel = infos[i].channelNum;
        c.halves[0] = m_memory.data() + 2 * i * halfBlocks;
        c.halves[1] = m_memory.data() + (2 * i + 1) * halfBlocks;
    }
}

void DoubleBuffers::handOut(ASIOBufferInfo* infos) const {
    for (std::size_t i = 0; i < m_channels.size(); ++i) {
        infos[i].buffers[0] = m_channels[i].halves[0];
        infos[i].buffers[1] = m_channels[i].halves[1];
    }
}

bool DoubleBuffers::isActive(bool isInput, ASIOLong channel) const {
    for (const Channel& c : m_channels) {
        if (c.isInput == isInput && c.channel == channel) {
            return true;
        }
    }
    return false;
}

} // namespace kit
