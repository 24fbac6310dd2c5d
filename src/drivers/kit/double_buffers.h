#pragma once
// The createBuffers half of the driver kit: the checks every driver makes of a request, and the
// host's two halves of every channel it asked for.

#include "asio/asio.h"

#include <cstddef>
#include <string>
#include <vector>

namespace kit {

struct ChannelCounts {
    ASIOLong inputs = 0;
    ASIOLong outputs = 0;
};

// Why a createBuffers request cannot be taken, in words; "" when it can. In this order: a
// bufferSwitch callback, at least one channel, the buffer size (`sizeRefusal`: the driver's own
// reason to refuse the size, "" when it takes it), then record by record a channel the driver
// has, not asked for twice.
std::string whyRefused(const ASIOBufferInfo* infos, ASIOLong numChannels,
                       const ASIOCallbacks* callbacks, ChannelCounts counts,
                       std::string sizeRefusal);

// Why getChannelInfo cannot describe the channel `info` names; "" when it can.
std::string whyNoChannel(const ASIOChannelInfo* info, ChannelCounts counts);

// Both halves of every channel of one checked request, in one zeroed allocation, each half on a
// 16-byte boundary; channels in the order of the host's records. Nothing is allocated after
// construction.
class DoubleBuffers {
public:
    struct Channel {
        bool isInput = false;
        ASIOLong channel = 0;
        void* halves[2] = {nullptr, nullptr};
    };

    DoubleBuffers() = default;
    // Throws std::bad_alloc.
    DoubleBuffers(const ASIOBufferInfo* infos, ASIOLong numChannels, ASIOLong frames,
                  std::size_t sampleBytes);

    // Sets the records' buffers fields, which must be the records the buffers were made for.
    void handOut(ASIOBufferInfo* infos) const;
    const std::vector<Channel>& channels() const { return m_channels; }
    ASIOLong frames() const { return m_frames; }
    bool isActive(bool isInput, ASIOLong channel) const;

private:
    struct alignas(16) Block {
        std::byte bytes[16];
    };

    std::vector<Block> m_memory;
    std::vector<Channel> m_channels;
    ASIOLong m_frames = 0;
};

} // namespace kit
