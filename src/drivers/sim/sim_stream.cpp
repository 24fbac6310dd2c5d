#include "drivers/sim/sim_stream.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <string>

namespace {

// Each half starts on a 16-byte boundary, whatever the sample width and buffer size, as
// kit::DoubleBuffers lays them out: what the buffers weigh against the memory bound.
constexpr std::size_t kHalfAlignment = 16;

// Cut-offs of the path filters in cycles per sample: the converters' band limit, or just below
// the Nyquist frequency when the filter only has to shift by a fraction of a sample.
constexpr double kConverterCutoff = 0.45;
constexpr double kFractionalDelayCutoff = 0.5;
// Kaiser window shape: sidelobes near -80 dB, far below the converters' own noise.
constexpr double kKaiserBeta = 8.0;
constexpr int kFilterTaps = 2 * kCableFilterHalfLength + 1;
// A drifting delay's filter is interpolated between designs at this many fractions of a sample.
constexpr int kDriftPhases = 1024;

std::size_t alignedHalfBytes(std::int64_t bufferSize, int sampleBytes) {
    const auto bytes = static_cast<std::size_t>(bufferSize) * static_cast<std::size_t>(sampleBytes);
    return (bytes + kHalfAlignment - 1) / kHalfAlignment * kHalfAlignment;
}

double amplitudeOf(const std::optional<double>& decibels) {
    return decibels ? std::pow(10.0, *decibels / 20.0) : 0.0;
}

// A Kaiser-windowed sinc low-pass, symmetric about `centre`, so that a sample comes out with its
// energy centred exactly that many samples later; unity gain at DC.
void designFilter(double cutoff, double centre, double* taps) {
    const double halfWidth = kCableFilterHalfLength + 1; // every tap lies strictly inside
    double sum = 0;
    for (int k = 0; k < kFilterTaps; ++k) {
        const double t = k - centre;
        const double phase = std::numbers::pi * 2 * cutoff * t;
        const double sinc = phase == 0 ? 1.0 : std::sin(phase) / phase;
        const double r = t / halfWidth;
        const double window = std::cyl_bessel_i(0.0, kKaiserBeta * std::sqrt(1 - r * r)) /
                              std::cyl_bessel_i(0.0, kKaiserBeta);
        taps[k] = sinc * window;
        sum += taps[k];
    }
    for (int k = 0; k < kFilterTaps; ++k) {
        taps[k] /= sum;
    }
}

std::uint64_t splitmix64(std::uint64_t& state) {
    // Small, fast and the same on every platform.
    std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

std::int64_t drawOpenState(const std::vector<SimOpenState>& states, std::uint64_t seed,
                           std::uint64_t startNumber) {
    if (states.empty()) {
        return 0;
    }
    double total = 0;
    for (const SimOpenState& state : states) {
        total += state.weight;
    }
    std::uint64_t mixer = seed ^ (startNumber * 0xD1B54A32D192ED03u);
    double draw = std::ldexp(static_cast<double>(splitmix64(mixer) >> 11), -53) * total;
    for (const SimOpenState& state : states) {
        if (draw < state.weight) {
            return state.extraDelay;
        }
        draw -= state.weight;
    }
    return states.back().extraDelay; // rounding left a sliver past the last weight
}

} // namespace

SimStream::SimStream(const SimSettings& settings, const ASIOBufferInfo* bufferInfos,
                     ASIOLong numChannels, ASIOLong bufferSize, const ASIOCallbacks& callbacks)
    : m_callbacks(callbacks)
    , m_layout(layoutOf(settings.sampleType))
    , m_bufferSize(bufferSize)
    , m_openStates(settings.openStates)
    , m_seed(settings.noiseSeed)
    , m_jumpAtSeconds(settings.jumpAtSeconds)
    , m_jumpBy(settings.jumpBy)
    , m_driftPerSample(settings.driftPpm * 1e-6)
    , m_driftRange(settings.driftRange())
    , m_dropoutAtSwitch(settings.dropoutAtSwitch)
    , m_dropoutAtSeconds(settings.dropoutAtSeconds)
    , m_dropoutPeriods(settings.dropoutPeriods)
    , m_dropoutKind(settings.dropoutKind)
    , m_acCouplingHz(settings.acCouplingHz.value_or(0.0))
    , m_dcOffset(settings.negativeDc ? -amplitudeOf(settings.dcDbfs) : amplitudeOf(settings.dcDbfs))
    , m_humHz(settings.humHz)
    , m_humAmplitude(settings.humHz != 0 ? amplitudeOf(settings.humDbfs) : 0.0)
    , m_noiseAmplitude(amplitudeOf(settings.noiseDbfs))
    , m_floatingAmplitude(amplitudeOf(settings.floatingDbfs)) {
    const std::size_t halfBytes = alignedHalfBytes(m_bufferSize, m_layout.bytes);
    const auto channels = static_cast<std::size_t>(numChannels);
    m_ports.resize(channels);
    for (std::size_t i = 0; i < channels; ++i) {
        m_ports[i].isInput = bufferInfos[i].isInput != ASIOFalse;
        m_ports[i].channel = bufferInfos[i].channelNum;
    }
    const std::vector<SimPath> paths = settings.paths();
    allocate(settings, paths, channels * 2 * halfBytes);
    m_buffers = kit::DoubleBuffers(bufferInfos, numChannels, bufferSize,
                                   static_cast<std::size_t>(m_layout.bytes));
    for (std::size_t i = 0; i < channels; ++i) {
        for (int half = 0; half < 2; ++half) {
            m_ports[i].halves[half] = static_cast<std::byte*>(m_buffers.channels()[i].halves[half]);
        }
    }
    m_inputBias.assign(static_cast<std::size_t>(bufferSize), 0.0);
    linkInputs(settings, paths);
}

SimStream::Port* SimStream::portOf(bool isInput, int channel) {
    for (Port& port : m_ports) {
        if (port.isInput == isInput && port.channel == channel) {
            return &port;
        }
    }
    return nullptr;
}

void SimStream::allocate(const SimSettings& settings, const std::vector<SimPath>& paths,
                         std::size_t audioBytes) {
    // Each output remembers what the longest path from it reaches back to. Filling period k-1
    // reaches back to play time (k-1)B - R; the newest capture, from the switch before, ends at
    // (k+1)B - 1, so 2B + R samples are enough.
    const double longestMove = settings.delayMovement().most;
    std::int64_t samples = 0;
    for (const SimPath& path : paths) {
        Port* output = portOf(false, path.output);
        if (output == nullptr || portOf(true, path.input) == nullptr) {
            continue;
        }
        const bool filtered = settings.filterDelayOf(path) != 0;
        const std::int64_t length =
            2 * m_bufferSize + static_cast<std::int64_t>(std::floor(path.delay + longestMove)) +
            (filtered ? kCableFilterHalfLength : 0);
        samples += std::max<std::int64_t>(length - output->historyLength, 0);
        output->historyLength = std::max(output->historyLength, length);
    }
    // Both are far below 2^63 bytes: at most 128 channels of 2^20 samples, and 64 outputs of 2^23.
    const auto bytes = static_cast<std::int64_t>(audioBytes + sizeof(double) * samples);
    if (bytes > kMaxSimMemoryBytes) {
        throw std::length_error("the buffers and the delays' histories need " +
                                std::to_string(bytes >> 20) + " MiB, more than the " +
                                std::to_string(kMaxSimMemoryBytes >> 20) +
                                " MiB the simulator allows");
    }
    m_history.assign(static_cast<std::size_t>(samples), 0.0);
    double* next = m_history.data();
    for (Port& port : m_ports) {
        port.history = next;
        next += port.historyLength;
    }
}

void SimStream::linkInputs(const SimSettings& settings, const std::vector<SimPath>& paths) {
    // Drift evaluates every path's filter anew at each sample, from designs at every phase.
    std::size_t phaseTables[2] = {kNoFilter, kNoFilter}; // by cut-off: fraction, converter
    const auto addFilter = [&](double cutoff, double centre) {
        const std::size_t at = m_filters.size();
        m_filters.resize(at + kFilterTaps);
        designFilter(cutoff, centre, m_filters.data() + at);
        return at;
    };
    for (Port& port : m_ports) {
        if (!port.isInput) {
            continue;
        }
        port.firstLink = m_links.size();
        port.floating = true;
        for (const SimPath& path : paths) {
            if (path.input != port.channel) {
                continue;
            }
            port.floating = port.floating && !path.analog;
            const Port* output = portOf(false, path.output);
            if (output == nullptr) {
                continue;
            }
            const double filterDelay = settings.filterDelayOf(path);
            const bool converter = path.analog && settings.converterFilter;
            const double cutoff = converter ? kConverterCutoff : kFractionalDelayCutoff;
            Link link{output->history,
                      output->historyLength,
                      std::llround(path.delay - filterDelay),
                      path.delay,
                      path.gain,
                      path.analog};
            if (settings.driftPpm != 0) {
                std::size_t& table = phaseTables[converter ? 1 : 0];
                if (table == kNoFilter) {
                    table = m_filters.size();
                    for (int phase = 0; phase <= kDriftPhases; ++phase) {
                        addFilter(cutoff, kCableFilterHalfLength +
                                              static_cast<double>(phase) / kDriftPhases);
                    }
                }
                link.phases = table;
            } else if (filterDelay != 0) {
                link.taps = addFilter(cutoff, filterDelay);
            }
            m_links.push_back(link);
        }
        port.endLink = m_links.size();
    }
}

void SimStream::rewind(double sampleRate, std::uint64_t startNumber) {
    std::fill(m_history.begin(), m_history.end(), 0.0);
    for (Port& port : m_ports) {
        port.coupledIn = 0;
        port.coupledOut = 0;
    }
    m_noiseState = m_seed;
    m_humPhase = 0;
    m_extraDelay = drawOpenState(m_openStates, m_seed, startNumber);
    // Validated: at most 1e6 s at 1 MHz, well inside 64 bits.
    m_jumpTime = m_jumpAtSeconds ? std::llround(*m_jumpAtSeconds * sampleRate)
                                 : std::numeric_limits<std::int64_t>::max();
    m_dropoutSwitch = m_dropoutAtSeconds
                          ? static_cast<std::int64_t>(std::floor(*m_dropoutAtSeconds * sampleRate /
                                                                 static_cast<double>(m_bufferSize)))
                          : m_dropoutAtSwitch;
}

std::int64_t SimStream::periodOf(std::int64_t switchIndex) const {
    const std::int64_t at = m_dropoutSwitch;
    if (at < 0 || switchIndex < at) {
        return switchIndex;
    }
    if (m_dropoutKind == SimDropoutKind::Lost) {
        return switchIndex + m_dropoutPeriods;
    }
    return switchIndex <= at + m_dropoutPeriods ? at : switchIndex - m_dropoutPeriods;
}

SimStream::Switch SimStream::beginSwitch(std::int64_t switchIndex, double sampleRate) {
    const std::int64_t period = periodOf(switchIndex);
    const std::int64_t previous = switchIndex > 0 ? periodOf(switchIndex - 1) : -1;
    if (period == previous) {
        const bool first = switchIndex == m_dropoutSwitch + 1;
        return {period, first ? ASIOLong{kAsioResyncRequest} : ASIOLong{0}};
    }
    for (std::int64_t lost = previous + 1; lost < period; ++lost) {
        fillInputs(lost, sampleRate);
        captureOutputs(lost);
    }
    fillInputs(period, sampleRate);
    return {period, period > previous + 1 ? ASIOLong{kAsioOverload} : ASIOLong{0}};
}

double SimStream::nextNoise() {
    const std::uint64_t z = splitmix64(m_noiseState);
    return std::ldexp(static_cast<double>(z >> 11), -52) - 1.0; // uniform in [-1, 1)
}

double SimStream::driftAt(std::int64_t time) const {
    // The FIFO between the two clocks slips back by the whole range once the delay has moved
    // that far, as an interface that drops or repeats samples does.
    return std::fmod(m_driftPerSample * static_cast<double>(time), m_driftRange);
}

double SimStream::heard(const Link& link, std::int64_t time) const {
    if (time < 0) {
        return 0.0;
    }
    const std::int64_t moved = m_extraDelay + (time >= m_jumpTime ? m_jumpBy : 0);
    std::int64_t shift = link.shift + moved;
    const double* taps = link.taps != kNoFilter ? m_filters.data() + link.taps : nullptr;
    double interpolated[kFilterTaps];
    if (link.phases != kNoFilter) {
        const double delay = link.delay + static_cast<double>(moved) + driftAt(time);
        const double whole = std::floor(delay);
        const double position = (delay - whole) * kDriftPhases;
        const int phase = std::min(static_cast<int>(position), kDriftPhases - 1);
        const double weight = position - phase;
        const double* below = m_filters.data() + link.phases + phase * kFilterTaps;
        for (int k = 0; k < kFilterTaps; ++k) {
            interpolated[k] = below[k] + weight * (below[k + kFilterTaps] - below[k]);
        }
        shift = static_cast<std::int64_t>(whole) - kCableFilterHalfLength;
        taps = interpolated;
    }
    const std::int64_t newest = time - shift;
    if (newest < 0) {
        return 0.0;
    }
    std::int64_t at = newest % link.historyLength;
    if (taps == nullptr) {
        return link.history[at] * link.gain;
    }
    double sum = 0;
    for (std::int64_t k = 0; k < std::min<std::int64_t>(kFilterTaps, newest + 1); ++k) {
        sum += taps[k] * link.history[at];
        at = at == 0 ? link.historyLength - 1 : at - 1;
    }
    return sum * link.gain;
}

void SimStream::prepareInputBias(double sampleRate) {
    // The hum's phase runs on across switches and rate changes, as the mains does.
    const double step = m_humHz / sampleRate;
    for (double& bias : m_inputBias) {
        bias = m_dcOffset + m_humAmplitude * std::sin(2 * std::numbers::pi * m_humPhase);
        m_humPhase += step;
        m_humPhase -= std::floor(m_humPhase);
    }
}

void SimStream::fillInputs(std::int64_t period, double sampleRate) {
    const int half = static_cast<int>(period % 2);
    const std::int64_t firstTime = (period - 1) * m_bufferSize;
    const double coupling = std::exp(-2 * std::numbers::pi * m_acCouplingHz / sampleRate);
    prepareInputBias(sampleRate);
    for (Port& port : m_ports) {
        if (!port.isInput) {
            continue;
        }
        for (std::int64_t i = 0; i < m_bufferSize; ++i) {
            const std::int64_t time = firstTime + i;
            // Starting from +0.0 turns the -0.0 of inverted silence back into +0.0, so silence
            // stays all zero bytes in the float formats.
            double analog = 0.0;
            double digital = 0.0;
            for (std::size_t l = port.firstLink; l < port.endLink; ++l) {
                (m_links[l].analog ? analog : digital) += heard(m_links[l], time);
            }
            if (m_acCouplingHz > 0) {
                // An RC high-pass: a step passes whole, then decays as exp(-t / RC).
                port.coupledOut = coupling * port.coupledOut + analog - port.coupledIn;
                port.coupledIn = analog;
                analog = port.coupledOut;
            }
            double value = analog + digital + m_inputBias[static_cast<std::size_t>(i)];
            if (m_noiseAmplitude > 0.0) {
                value += m_noiseAmplitude * nextNoise();
            }
            if (port.floating && m_floatingAmplitude > 0.0) {
                value += m_floatingAmplitude * nextNoise();
            }
            // A converter saturates at full scale; the integer formats would clamp anyway, the
            // float formats would not.
            writeNormalised(port.halves[half], static_cast<int>(i), std::clamp(value, -1.0, 1.0),
                            m_layout);
        }
    }
}

void SimStream::captureOutputs(std::int64_t period) {
    const int half = static_cast<int>(period % 2);
    const std::int64_t firstTime = (period + 1) * m_bufferSize;
    for (Port& port : m_ports) {
        if (port.isInput || port.historyLength == 0) {
            continue;
        }
        for (std::int64_t i = 0; i < m_bufferSize; ++i) {
            const double sample = readNormalised(port.halves[half], static_cast<int>(i), m_layout);
            // A converter cannot play what is not a number; silence keeps the filters sound.
            port.history[(firstTime + i) % port.historyLength] =
                std::isfinite(sample) ? sample : 0.0;
        }
    }
}
