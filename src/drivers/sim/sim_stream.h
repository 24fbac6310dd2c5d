#pragma once
// The buffers of one createBuffers call and the cables between them: the signal path of the
// loopback simulator, without its thread. See loopback_sim.h for the time model.

#include "asio/asio.h"
#include "drivers/kit/double_buffers.h"
#include "drivers/sim/sim_settings.h"
#include "engine/sample_format.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class SimStream {
public:
    // `bufferInfos` must already be checked (channels in range, none twice) and `settings`
    // validated. Allocates every buffer zero-filled, the cables' memory and their filter; throws
    // std::bad_alloc when memory runs out. Nothing after construction allocates.
    SimStream(const SimSettings& settings, const ASIOBufferInfo* bufferInfos, ASIOLong numChannels,
              ASIOLong bufferSize, const ASIOCallbacks& callbacks);

    // Sets the host's buffers fields, in the order of its records.
    void handOut(ASIOBufferInfo* bufferInfos) const { m_buffers.handOut(bufferInfos); }
    bool isActive(bool isInput, ASIOLong channel) const {
        return m_buffers.isActive(isInput, channel);
    }
    ASIOLong bufferSize() const { return m_bufferSize; }
    const ASIOCallbacks& callbacks() const { return m_callbacks; }

    // Back to the start of the timeline: nothing has been played yet.
    void rewind(std::uint64_t noiseSeed);
    // Before switch k: every input half k mod 2 gets what it heard during period k-1. Mains hum
    // keeps its frequency in Hz, so it needs the rate of that period.
    void fillInputs(std::int64_t switchIndex, double sampleRate);
    // After switch k: output half k mod 2 is what plays during period k+1.
    void captureOutputs(std::int64_t switchIndex);

private:
    struct Port {
        bool isInput = false;
        ASIOLong channel = 0;
        std::byte* halves[2] = {nullptr, nullptr};
        // Outputs: what they played, which the ghost path taps, and the same through the cable
        // filter (the same memory when the cable has none).
        double* played = nullptr;
        double* filtered = nullptr;
        // Inputs: the filtered history of the output wired to them and the played history of
        // their ghost path's output; null when there is no such output or it has no buffers.
        const double* cable = nullptr;
        const double* ghost = nullptr;
        bool floating = false; // an input with no cable
    };

    double nextNoise();
    // What `history` holds for play time `time`; nothing was played before time 0.
    double heard(const double* history, std::int64_t time) const;
    // The DC offset and hum that every input hears during the next period.
    void prepareInputBias(double sampleRate);

    const ASIOCallbacks& m_callbacks;
    const SampleLayout m_layout;
    const std::int64_t m_bufferSize;
    const std::vector<double> m_cableFilter; // empty: the cable is a whole-sample shift
    const std::int64_t m_cableShift;         // the loop delay less the filter's group delay
    const double m_gain;                     // polarity included
    const std::int64_t m_ghostDelay;
    const double m_ghostGain; // 0: no ghost path
    const double m_dcOffset;
    const double m_humHz;
    const double m_humAmplitude;
    const double m_noiseAmplitude;
    const double m_floatingAmplitude;
    // Samples each history remembers, indexed by play time modulo this length. Filling period
    // k-1 reaches back to play time (k-1)B - R, R the longest reach of a cable, ghost or filter;
    // the newest capture, from switch k-1, ends at (k+1)B - 1, so 2B + R samples are enough.
    const std::int64_t m_historyLength;
    std::uint64_t m_noiseState = 0;
    double m_humPhase = 0; // in cycles, from 0 to 1
    std::vector<double> m_inputBias;
    const kit::DoubleBuffers m_buffers;
    std::vector<double> m_history;
    std::vector<Port> m_ports; // in the order of the host's records
};
