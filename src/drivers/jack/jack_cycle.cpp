#include "drivers/jack/jack_cycle.h"

void JackCycle::prepare(ASIOBufferInfo* bufferInfos, ASIOLong numChannels, jack_nframes_t frames,
                        void (*bufferSwitch)(ASIOLong, ASIOBool)) {
    m_buffers =
        kit::DoubleBuffers(bufferInfos, numChannels, static_cast<ASIOLong>(frames), sizeof(float));
    m_channels.clear();
    for (const kit::DoubleBuffers::Channel& c : m_buffers.channels()) {
        m_channels.push_back(
            {c.isInput,
             c.channel,
             nullptr,
             {static_cast<float*>(c.halves[0]), static_cast<float*>(c.halves[1])}});
    }
    m_buffers.handOut(bufferInfos);
    m_frames = frames;
    m_bufferSwitch = bufferSwitch;
}

void JackCycle::release() {
    m_channels.clear();
    m_buffers = {};
    m_frames = 0;
    m_bufferSwitch = nullptr;
}

void JackCycle::start() {
    m_gate.closeAndWait(); // a run stopped inside bufferSwitch may not have left it yet
    m_switchIndex.store(0, std::memory_order_relaxed);
    m_latestElapsed.store(-1, std::memory_order_relaxed);
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
    const std::int64_t elapsed = m_latestElapsed.load(std::memory_order_acquire);
    if (!m_gate.isOpen() || elapsed < 0) {
        return false;
    }
    samples = static_cast<std::uint64_t>(elapsed);
    // Frame times wrap at 32 bits, as JACK's own do.
    frameTime = static_cast<jack_nframes_t>(m_startFrame.load(std::memory_order_relaxed) + samples);
    return true;
}
