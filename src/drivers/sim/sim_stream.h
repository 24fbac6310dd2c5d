#pragma once
// The buffers of one createBuffers call and the paths between them: the signal path of the
// loopback simulator, without its thread. See loopback_sim.h for the time model.

#include "asio/asio.h"
#include "drivers/kit/double_buffers.h"
#include "drivers/sim/sim_settings.h"
#include "engine/sample_format.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

class SimStream {
public:
    // `bufferInfos` must already be checked (channels in range, none twice) and `settings`
    // validated. Allocates every buffer zero-filled, the outputs' histories and the paths'
    // filters; throws std::length_error (its text says why) when the buffers and histories would
    // pass kMaxSimMemoryBytes, std::bad_alloc when memory runs out. Nothing after construction
    // allocates.
    SimStream(const SimSettings& settings, const ASIOBufferInfo* bufferInfos, ASIOLong numChannels,
              ASIOLong bufferSize, const ASIOCallbacks& callbacks);

    // Sets the host's buffers fields, in the order of its records.
    void handOut(ASIOBufferInfo* bufferInfos) const { m_buffers.handOut(bufferInfos); }
    bool isActive(bool isInput, ASIOLong channel) const {
        return m_buffers.isActive(isInput, channel);
    }
    ASIOLong bufferSize() const { return static_cast<ASIOLong>(m_bufferSize); }
    const ASIOCallbacks& callbacks() const { return m_callbacks; }

    // Back to the start of the timeline, nothing played yet, for run number `startNumber`: draws
    // the run's open state, and places its jump and dropout at the rate it starts with.
    void rewind(double sampleRate, std::uint64_t startNumber);

    // The hardware period that switch `switchIndex` of the run serves: its half is the period
    // mod 2, its sample position the period times the buffer size.
    std::int64_t periodOf(std::int64_t switchIndex) const;

    struct Switch {
        std::int64_t period = 0;
        ASIOLong message = 0; // the message announcing a dropout just before it; 0 for none
    };
    // Runs the device up to switch `switchIndex`: periods lost before it are recorded and played
    // as the hardware does with no host (the recordings are overwritten, the halves play as they
    // stand); then the inputs get what they heard during the period before the one served, except
    // for a repeated period, whose inputs stay as they are. Mains hum keeps its frequency in Hz,
    // so it needs the current rate, and so does the AC coupling.
    Switch beginSwitch(std::int64_t switchIndex, double sampleRate);
    // After the switch that served `period`: output half period mod 2 is what plays during the
    // next period.
    void captureOutputs(std::int64_t period);

private:
    static constexpr std::size_t kNoFilter = static_cast<std::size_t>(-1);
    // Where an input hears an output from: one path of SimSettings::paths().
    struct Link {
        const double* history = nullptr; // the output's played samples
        std::int64_t historyLength = 0;
        std::int64_t shift = 0; // whole samples of delay before the filter
        double delay = 0;       // the path's, for drift
        double gain = 0;
        bool analog = false;
        std::size_t taps = kNoFilter;   // a fixed filter in m_filters
        std::size_t phases = kNoFilter; // drift: the filter at every phase, in m_filters
    };
    struct Port {
        bool isInput = false;
        ASIOLong channel = 0;
        std::byte* halves[2] = {nullptr, nullptr};
        // Outputs: what they played, indexed by play time modulo its length; none (length 0)
        // when no path taps them.
        double* history = nullptr;
        std::int64_t historyLength = 0;
        // Inputs: their links, m_links[firstLink, endLink), and the AC coupling's last input and
        // output.
        std::size_t firstLink = 0;
        std::size_t endLink = 0;
        bool floating = false; // no cable
        double coupledIn = 0;
        double coupledOut = 0;
    };

    Port* portOf(bool isInput, int channel);
    // The host's buffers and the outputs' histories, within kMaxSimMemoryBytes.
    void allocate(const SimSettings& settings, const std::vector<SimPath>& paths,
                  std::size_t audioBytes);
    void linkInputs(const SimSettings& settings, const std::vector<SimPath>& paths);
    void fillInputs(std::int64_t period, double sampleRate);
    double nextNoise();
    // What `link` brings to its input at play time `time`.
    double heard(const Link& link, std::int64_t time) const;
    double driftAt(std::int64_t time) const;
    // The DC offset and hum that every input hears during the next period.
    void prepareInputBias(double sampleRate);

    const ASIOCallbacks& m_callbacks;
    const SampleLayout m_layout;
    const std::int64_t m_bufferSize;
    const std::vector<SimOpenState> m_openStates;
    const std::uint64_t m_seed;
    const std::optional<double> m_jumpAtSeconds;
    const std::int64_t m_jumpBy;
    const double m_driftPerSample;
    const double m_driftRange;
    const std::int64_t m_dropoutAtSwitch;
    const std::optional<double> m_dropoutAtSeconds;
    const std::int64_t m_dropoutPeriods;
    const SimDropoutKind m_dropoutKind;
    const double m_acCouplingHz; // 0: none
    const double m_dcOffset;
    const double m_humHz;
    const double m_humAmplitude;
    const double m_noiseAmplitude;
    const double m_floatingAmplitude;

    // This run's.
    std::int64_t m_extraDelay = 0;
    std::int64_t m_jumpTime = 0;
    std::int64_t m_dropoutSwitch = -1;
    std::uint64_t m_noiseState = 0;
    double m_humPhase = 0; // in cycles, from 0 to 1

    std::vector<double> m_inputBias;
    kit::DoubleBuffers m_buffers; // made once the memory bound is checked
    std::vector<double> m_history;
    std::vector<double> m_filters; // the links' fixed taps and phase tables
    std::vector<Link> m_links;     // grouped by input
    std::vector<Port> m_ports;     // in the order of the host's records
};

// The most memory a stream's buffers and histories may take together.
inline constexpr std::int64_t kMaxSimMemoryBytes = std::int64_t{256} << 20;
