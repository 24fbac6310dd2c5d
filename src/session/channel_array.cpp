#include "session/channel_array.h"

#include <algorithm>
#include <numeric>

namespace {

std::vector<std::int32_t> firstChannels(std::int32_t count) {
    std::vector<std::int32_t> channels(
        static_cast<std::size_t>(std::clamp(count, 0, kMaxChannels)));
    std::iota(channels.begin(), channels.end(), 0);
    return channels;
}

bool fitsGroup(std::vector<std::int32_t> channels, std::int32_t count) {
    if (channels.size() > static_cast<std::size_t>(kMaxChannels)) {
        return false;
    }
    std::sort(channels.begin(), channels.end());
    return std::adjacent_find(channels.begin(), channels.end()) == channels.end() &&
           std::all_of(channels.begin(), channels.end(),
                       [count](std::int32_t channel) { return channel >= 0 && channel < count; });
}

} // namespace

ChannelSelection ChannelSelection::all(std::int32_t inputs, std::int32_t outputs) {
    return {firstChannels(inputs), firstChannels(outputs)};
}

bool ChannelSelection::fits(std::int32_t numInputs, std::int32_t numOutputs) const {
    return fitsGroup(inputs, numInputs) && fitsGroup(outputs, numOutputs);
}

bool ChannelArray::build(const ChannelSelection& selection, std::int32_t numInputs,
                         std::int32_t numOutputs) {
    release();
    if (!selection.fits(numInputs, numOutputs)) {
        return false;
    }
    m_inputs = static_cast<std::int32_t>(selection.inputs.size());
    m_outputs = static_cast<std::int32_t>(selection.outputs.size());
    m_records = std::make_unique<ASIOBufferInfo[]>(static_cast<std::size_t>(count()));
    for (std::int32_t i = 0; i < m_inputs; ++i) {
        m_records[static_cast<std::size_t>(i)] = {ASIOTrue, selection.inputs[i], {}};
    }
    for (std::int32_t k = 0; k < m_outputs; ++k) {
        m_records[static_cast<std::size_t>(m_inputs + k)] = {ASIOFalse, selection.outputs[k], {}};
    }
    return true;
}

void ChannelArray::release() {
    m_records.reset();
    m_inputs = 0;
    m_outputs = 0;
}
