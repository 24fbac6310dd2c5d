#include "drivers/sim/sim_stream.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// Cut-offs of the cable filter in cycles per sample: the converters' band limit, or just below
// the Nyquist frequency when the filter only has to shift by a fraction of a sample.
constexpr double kConverterCutoff = 0.45;
constexpr double kFractionalDelayCutoff = 0.5;
// Kaiser window shape: sidelobes near -80 dB, far below the converters' own noise.
constexpr double kKaiserBeta = 8.0;

double amplitudeOf(double decibels) {
    return std::pow(10.0, decibels / 20.0);
}

double amplitudeOf(const std::optional<double>& decibels) {
    return decibels ? amplitudeOf(*decibels) : 0.0;
}

double linearGain(const SimSettings& settings) {
    const double magnitude = amplitudeOf(settings.loopGainDb);
    return settings.invertPolarity ? -magnitude : magnitude;
}

// A Kaiser-windowed sinc low-pass, symmetric about the filter's group delay, so that a sample
// comes out with its energy centred exactly that many samples later; unity gain at DC.
std::vector<double> designCableFilter(const SimSettings& settings) {
    const double centre = settings.cableFilterDelay();
    if (centre == 0) {
        return {};
    }
    const double cutoff = settings.converterFilter ? kConverterCutoff : kFractionalDelayCutoff;
    const double halfWidth = kCableFilterHalfLength + 1; // every tap lies strictly inside
    std::vector<double> taps(2 * kCableFilterHalfLength + 1);
    double sum = 0;
    for (std::size_t k = 0; k < taps.size(); ++k) {
        const double t = static_cast<double>(k) - centre;
        const double phase = std::numbers::pi * 2 * cutoff * t;
        const double sinc = phase == 0 ? 1.0 : std::sin(phase) / phase;
        const double r = t / halfWidth;
        const double window = std::cyl_bessel_i(0.0, kKaiserBeta * std::sqrt(1 - r * r)) /
                              std::cyl_bessel_i(0.0, kKaiserBeta);
        taps[k] = sinc * window;
        sum += taps[k];
    }
    for (double& tap : taps) {
        tap /= sum;
    }
    return taps;
}

} // namespace

SimStream::SimStream(const SimSettings& settings, const ASIOBufferInfo* bufferInfos,
                     ASIOLong numChannels, ASIOLong bufferSize, const ASIOCallbacks& callbacks)
    : m_callbacks(callbacks)
    , m_layout(layoutOf(settings.sampleType))
    , m_bufferSize(bufferSize)
    , m_cableFilter(designCableFilter(settings))
    , m_cableShift(std::llround(settings.loopDelay - settings.cableFilterDelay()))
    , m_gain(linearGain(settings))
    , m_ghostDelay(settings.ghostDelay)
    , m_ghostGain(amplitudeOf(settings.ghostGainDb))
    , m_dcOffset(settings.negativeDc ? -amplitudeOf(settings.dcDbfs) : amplitudeOf(settings.dcDbfs))
    , m_humHz(settings.humHz)
    , m_humAmplitude(settings.humHz != 0 ? amplitudeOf(settings.humDbfs) : 0.0)
    , m_noiseAmplitude(amplitudeOf(settings.noiseDbfs))
    , m_floatingAmplitude(amplitudeOf(settings.floatingDbfs))
    , m_historyLength(2 * m_bufferSize +
                      std::max({m_cableShift, m_ghostDelay,
                                static_cast<std::int64_t>(m_cableFilter.size()) - 1}))
    , m_buffers(bufferInfos, numChannels, bufferSize, static_cast<std::size_t>(m_layout.bytes)) {
    const auto channels = static_cast<std::size_t>(numChannels);
    m_ports.resize(channels);
    m_inputBias.assign(static_cast<std::size_t>(bufferSize), 0.0);

    std::size_t outputCount = 0;
    for (std::size_t i = 0; i < channels; ++i) {
        outputCount += bufferInfos[i].isInput ? 0 : 1;
    }
    const std::size_t historiesPerOutput = m_cableFilter.empty() ? 1 : 2;
    const auto historyLength = static_cast<std::size_t>(m_historyLength);
    m_history.assign(outputCount * historiesPerOutput * historyLength, 0.0);

    std::vector<const Port*> outputPorts(static_cast<std::size_t>(settings.outputs), nullptr);
    double* nextHistory = m_history.data();
    for (std::size_t i = 0; i < channels; ++i) {
        Port& port = m_ports[i];
        port.isInput = bufferInfos[i].isInput != ASIOFalse;
        port.channel = bufferInfos[i].channelNum;
        for (int half = 0; half < 2; ++half) {
            port.halves[half] = static_cast<std::byte*>(m_buffers.channels()[i].halves[half]);
        }
        if (!port.isInput) {
            port.played = nextHistory;
            port.filtered = nextHistory + (historiesPerOutput - 1) * historyLength;
            nextHistory += historiesPerOutput * historyLength;
            outputPorts[static_cast<std::size_t>(port.channel)] = &port;
        }
    }
    const auto outputPort = [&](int channel) {
        return channel >= 0 && channel < settings.outputs
                   ? outputPorts[static_cast<std::size_t>(channel)]
                   : nullptr;
    };
    for (Port& port : m_ports) {
        if (!port.isInput) {
            continue;
        }
        const int source = settings.sourceOf(port.channel);
        port.floating = source == kNoCable;
        if (const Port* cable = outputPort(source)) {
            port.cable = cable->filtered;
        }
        if (const Port* ghost = outputPort(port.channel); ghost && settings.ghostGainDb) {
            port.ghost = ghost->played;
        }
    }
}

void SimStream::rewind(std::uint64_t noiseSeed) {
    std::fill(m_history.begin(), m_history.end(), 0.0);
    m_noiseState = noiseSeed;
    m_humPhase = 0;
}

double SimStream::nextNoise() {
    // splitmix64: small, fast and the same on every platform.
    std::uint64_t z = (m_noiseState += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    z ^= z >> 31;
    return std::ldexp(static_cast<double>(z >> 11), -52) - 1.0; // uniform in [-1, 1)
}

double SimStream::heard(const double* history, std::int64_t time) const {
    return history != nullptr && time >= 0 ? history[time % m_historyLength] : 0.0;
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

void SimStream::fillInputs(std::int64_t switchIndex, double sampleRate) {
    const int half = static_cast<int>(switchIndex % 2);
    const std::int64_t firstTime = (switchIndex - 1) * m_bufferSize;
    prepareInputBias(sampleRate);
    for (Port& port : m_ports) {
        if (!port.isInput) {
            continue;
        }
        for (std::int64_t i = 0; i < m_bufferSize; ++i) {
            const std::int64_t time = firstTime + i;
            // Adding +0.0 turns the -0.0 of inverted silence back into +0.0, so silence stays
            // all zero bytes in the float formats.
            double value = heard(port.cable, time - m_cableShift) * m_gain + 0.0;
            value += heard(port.ghost, time - m_ghostDelay) * m_ghostGain;
            value += m_inputBias[static_cast<std::size_t>(i)];
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

void SimStream::captureOutputs(std::int64_t switchIndex) {
    const int half = static_cast<int>(switchIndex % 2);
    const std::int64_t firstTime = (switchIndex + 1) * m_bufferSize;
    const auto filterLength = static_cast<std::int64_t>(m_cableFilter.size());
    for (Port& port : m_ports) {
        if (port.isInput) {
            continue;
        }
        for (std::int64_t i = 0; i < m_bufferSize; ++i) {
            port.played[(firstTime + i) % m_historyLength] =
                readNormalised(port.halves[half], static_cast<int>(i), m_layout);
        }
        for (std::int64_t i = 0; i < m_bufferSize && filterLength > 0; ++i) {
            const std::int64_t time = firstTime + i;
            const std::int64_t newest = time % m_historyLength;
            double sum = 0;
            for (std::int64_t k = 0; k < std::min(filterLength, time + 1); ++k) {
                const std::int64_t at = newest - k;
                sum += m_cableFilter[static_cast<std::size_t>(k)] *
                       port.played[at >= 0 ? at : at + m_historyLength];
            }
            port.filtered[newest] = sum;
        }
    }
}
