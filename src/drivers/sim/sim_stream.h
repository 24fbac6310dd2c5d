#pragma once
// The buffers of one createBuffers call and the cables between them: the signal path of the
// loopback simulator, without its thread. See loopback_sim.h for the time model.

#include "asio/asio.h"
#include "drivers/sim/loopback_sim.h"
#include "engine/sample_format.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class SimStream {
public:
    // `bufferInfos` must already be checked (channels in range, none twice). Allocates every
    // buffer zero-filled and the cables' memory; throws std::bad_alloc when memory runs out.
    SimStream(const SimSettings& settings, const ASIOBufferInfo* bufferInfos, ASIOLong numChannels,
              ASIOLong bufferSize, const ASIOCallbacks& callbacks);

    // Sets the host's buffers fields, in the order of its records.
    void handOut(ASIOBufferInfo* bufferInfos) const;
    bool isActive(bool isInput, ASIOLong channel) const;
    ASIOLong bufferSize() const { return m_bufferSize; }
    const ASIOCallbacks& callbacks() const { return m_callbacks; }

    // Back to the start of the timeline: nothing has been played yet.
    void rewind(std::uint64_t noiseSeed);
    // Before switch k: every input half k mod 2 gets what its cable carried during period k-1.
    void fillInputs(std::int64_t switchIndex);
    // After switch k: output half k mod 2 is what plays during period k+1.
    void captureOutputs(std::int64_t switchIndex);

private:
    struct Port {
        bool isInput = false;
        ASIOLong channel = 0;
        std::byte* halves[2] = {nullptr, nullptr};
        // Outputs: their own play history. Inputs: the history of the output wired to them, or
        // null when no cable or no buffer of that output brings them anything.
        double* history = nullptr;
    };

    double nextNoise();

    const ASIOCallbacks& m_callbacks;
    const SampleLayout m_layout;
    const std::int64_t m_bufferSize;
    const std::int64_t m_delay;
    const double m_gain; // polarity included
    const double m_noiseAmplitude;
    // Samples each output remembers, indexed by play time modulo this length: filling period k-1
    // reaches back to play time (k-1)B - L, and the newest capture, from switch k-1, ends at
    // (k+1)B - 1, so 2B + L samples are enough.
    const std::int64_t m_historyLength;
    std::uint64_t m_noiseState = 0;
    std::vector<std::byte> m_audio;
    std::vector<double> m_history;
    std::vector<Port> m_ports; // in the order of the host's records
};
