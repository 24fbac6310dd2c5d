#include "engine/quiet_start.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Seconds at a rate as whole samples; the rate is one a measurement accepted, the seconds the
// owner's, so both are bounded before they are multiplied.
std::int64_t samplesIn(double seconds, double sampleRate) {
    return static_cast<std::int64_t>(std::clamp(seconds * sampleRate, 0.0, 1e15));
}

} // namespace

void QuietListener::start(const QuietStart& options, double sampleRate) {
    m_level = std::pow(10.0, options.levelDbfs / 20);
    m_quietFor = samplesIn(options.quietSeconds, sampleRate);
    m_maxWait = samplesIn(options.maxWaitSeconds, sampleRate);
    m_quietRun = 0;
    m_waited = 0;
    m_quietest = HUGE_VAL;
}

QuietListener::State QuietListener::onSwitch(const StreamSnapshot& stream, int half) {
    for (std::int32_t k = 0; k < stream.numOutputs; ++k) {
        std::memset(stream.output(k, half), 0, stream.halfBytes());
    }
    double loudest = 0;
    for (std::int32_t i = 0; i < stream.numInputs; ++i) {
        loudest = std::max(loudest, swingOf(stream.input(i, half), stream.frames, stream.layout));
    }
    m_quietest = std::min(m_quietest, loudest);
    m_waited += stream.frames;
    m_quietRun = loudest <= m_level ? m_quietRun + stream.frames : 0;
    if (m_quietRun >= std::max<std::int64_t>(m_quietFor, stream.frames)) {
        return State::Quiet;
    }
    return m_waited >= m_maxWait ? State::NeverQuiet : State::Listening;
}

double QuietListener::quietestDbfs() const {
    return 20 * std::log10(m_quietest);
}
