#include "drivers/jack/jack_cycle.h"

void JackCycle::prepare(ASIOBufferInfo* bufferInfos, ASIOLong numChannels, jack_nframes_t frames,
                        void (*bufferSwitch)(ASIOLong, ASIOBool)) {
    const auto count = static_cast<std::size_t>(numChannels);
    m_audio.assign(count * 2 * frames, 0.0f);
    m_channels.assign(count, Channel{});
    for (std::size_t i = 0; i < count; ++i) {
        Channel& c = m_channels[i];
        c.isInput = bufferInfos[i].isInput != ASIOFalse;
        c.index = bufferInfos[i].channelNum;
        c.halves[0] = m_audio.data() + 2 * i * frames;
        c.halves[1] = c.halves[0] + frames;
        bufferInfos[i].buffers[0] = c.halves[0];
        bufferInfos[i].buffers[1] = c.halves[1];
    }
    m_frames = frames;
    m_bufferSwitch = bufferSwitch;
}

void JackCycle::release() {
    m_channels.clear();
    m_audio = {};
    m_frames = 0;
    m_bufferSwitch = nullptr;
}

bool JackCycle::isActive(bool isInput, ASIOLong index) const {
    for (const Channel& c : m_channels) {
        if (c.isInput == isInput && c.index == index) {
            return true;
        }
    }
    return false;
}

void JackCycle::start() {
    m_gate.closeAndWait(); // a run stopped inside bufferSwitch may not have left it yet
    m_switchIndex.store(0, std::memory_order_relaxed);
    m_latestSwitch.store(-1, std::memory_order_relaxed);
    m_gate.open();
}

void JackCycle::stop(bool onProcessThread) {
    if (onProcessThread) {
        m_gate.close();
    } else {
        m_gate.closeAndWait();
    }
}

bool JackCycle::position(std::uint64_t& samples, jack_nframes_t& frameTime) const {
    const std::int64_t latest = m_latestSwitch.load(std::memory_order_acquire);
    if (!m_gate.isOpen() || latest < 0) {
        return false;
    }
    samples = static_cast<std::uint64_t>(latest) * m_frames;
    // Frame times wrap at 32 bits, as JACK's own do.
    frameTime = static_cast<jack_nframes_t>(m_startFrame.load(std::memory_order_relaxed) + samples);
    return true;
}
