#pragma once
// The channel array handed to createBuffers: one record per channel in use, inputs first, each
// group in the order chosen. The driver fills in the buffers; the array owns the records (not
// the buffers, which are the driver's until disposeBuffers) and frees them when released or
// destroyed.

#include "asio/asio.h"
#include "engine/driver_limits.h"

#include <cstdint>
#include <memory>
#include <vector>

// The channels of each kind in use, by channel number.
struct ChannelSelection {
    std::vector<std::int32_t> inputs;
    std::vector<std::int32_t> outputs;

    // Channels 0 to inputs - 1 and 0 to outputs - 1.
    static ChannelSelection all(std::int32_t inputs, std::int32_t outputs);
    // Whether every channel is one of a driver with these counts, none twice, and neither group
    // larger than kMaxChannels.
    bool fits(std::int32_t numInputs, std::int32_t numOutputs) const;
};

class ChannelArray {
public:
    // Replaces the array with one for `selection`; false, and no array, when it does not fit a
    // driver with these channel counts.
    bool build(const ChannelSelection& selection, std::int32_t numInputs, std::int32_t numOutputs);
    void release();

    explicit operator bool() const { return m_records != nullptr; }
    // Null when there is no array; valid, though empty, for an array of no channels.
    ASIOBufferInfo* data() const { return m_records.get(); }
    ASIOLong count() const { return m_inputs + m_outputs; }
    std::int32_t inputs() const { return m_inputs; }
    std::int32_t outputs() const { return m_outputs; }

private:
    std::unique_ptr<ASIOBufferInfo[]> m_records;
    std::int32_t m_inputs = 0;
    std::int32_t m_outputs = 0;
};
