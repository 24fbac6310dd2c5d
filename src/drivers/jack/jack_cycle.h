#pragma once
// The real-time half of the JACK driver: the host's buffers and one process cycle over them.
// JACK hands a client one buffer per port and cycle; the host works on two halves. At switch k
// of a run (k from 0 at each start) the cycle copies every JACK input buffer into input half
// k mod 2, calls bufferSwitch(k mod 2), and copies output half k mod 2 into the JACK output
// buffer of that same cycle. Off a run, or in a cycle of another length than the buffers (the
// period changed), it writes silence and calls nothing.
//
// Threads. run() is the process thread's; it allocates nothing, takes no lock and waits for
// nothing. prepare and release happen while JACK calls no run (the client inactive); start,
// stop and position may come from any thread.

#include "asio/asio.h"
#include "drivers/jack/jack_gate.h"
#include "drivers/kit/double_buffers.h"

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

class JackCycle {
public:
    struct Channel {
        bool isInput = false;
        ASIOLong index = 0;
        jack_port_t* port = nullptr;
        float* halves[2] = {nullptr, nullptr};
    };

    // One channel per host record, in their order, with zeroed halves of `frames` samples; sets
    // the records' buffers. The records must be checked already. Throws std::bad_alloc.
    void prepare(ASIOBufferInfo* bufferInfos, ASIOLong numChannels, jack_nframes_t frames,
                 void (*bufferSwitch)(ASIOLong, ASIOBool));
    void release();

    std::vector<Channel>& channels() { return m_channels; }
    const std::vector<Channel>& channels() const { return m_channels; }
    jack_nframes_t frames() const { return m_frames; }
    bool isActive(bool isInput, ASIOLong index) const { return m_buffers.isActive(isInput, index); }

    // A new run from switch 0. Never on the process thread.
    void start();
    // On the process thread (inside bufferSwitch) it only closes the way; elsewhere it also waits
    // until the thread has left bufferSwitch.
    void stop(bool onProcessThread);
    bool isRunning() const { return m_gate.isOpen(); }
    // Frames from switch 0 to the latest switch by JACK's clock, and the JACK frame time of that
    // switch; false before the first switch of a run. Cycles the server lost (an xrun) count, so
    // that a host watching the position sees the periods its run missed.
    bool position(std::uint64_t& samples, jack_nframes_t& frameTime) const;

    // One process cycle. `frameTime` is the cycle's first frame; `portBuffer(channel)` gives the
    // JACK buffer of a channel's port.
    template <class PortBuffer>
    void run(jack_nframes_t frames, jack_nframes_t frameTime, PortBuffer&& portBuffer) noexcept {
        if (frames != m_frames || !m_gate.enter()) {
            for (const Channel& c : m_channels) {
                if (!c.isInput) {
                    std::memset(portBuffer(c), 0, frames * sizeof(float));
                }
            }
            return;
        }
        const std::uint64_t index = m_switchIndex.load(std::memory_order_relaxed);
        const int half = static_cast<int>(index % 2);
        const std::size_t bytes = frames * sizeof(float);
        for (const Channel& c : m_channels) {
            if (c.isInput) {
                std::memcpy(c.halves[half], portBuffer(c), bytes);
            }
        }
        if (index == 0) {
            m_startFrame.store(frameTime, std::memory_order_relaxed);
            m_elapsed = 0;
        } else {
            m_elapsed += static_cast<jack_nframes_t>(frameTime - m_lastFrameTime); // wraps at 32
        }
        m_lastFrameTime = frameTime;
        m_latestElapsed.store(static_cast<std::int64_t>(m_elapsed), std::memory_order_release);
        m_bufferSwitch(half, ASIOTrue);
        for (const Channel& c : m_channels) {
            if (!c.isInput) {
                std::memcpy(portBuffer(c), c.halves[half], bytes);
            }
        }
        m_switchIndex.store(index + 1, std::memory_order_relaxed);
        m_gate.leave();
    }

private:
    std::vector<Channel> m_channels;
    kit::DoubleBuffers m_buffers;
    jack_nframes_t m_frames = 0;
    void (*m_bufferSwitch)(ASIOLong, ASIOBool) = nullptr;

    JackGate m_gate;
    std::atomic<std::uint64_t> m_switchIndex{0};   // the next switch; the process thread's
    std::uint64_t m_elapsed = 0;                   // the process thread's: frames since switch 0
    jack_nframes_t m_lastFrameTime = 0;            // the process thread's: the last switch's
    std::atomic<std::int64_t> m_latestElapsed{-1}; // for position(); -1 before the first switch
    std::atomic<jack_nframes_t> m_startFrame{0};   // frame time of switch 0
};
