#include "engine/dropout_watch.h"

#include <algorithm>
#include <cmath>

namespace {

// A distance in periods as a count of whole periods amiss, at least one: whatever a driver
// reports, never a conversion out of range.
std::int64_t periodsIn(double periods) {
    return static_cast<std::int64_t>(std::clamp(std::round(periods), 1.0, 1e9));
}

// b - a in two's complement, so that positions or times that wrap or jump back stay defined.
std::int64_t difference(std::uint64_t a, std::uint64_t b) {
    return static_cast<std::int64_t>(b - a);
}

} // namespace

void DropoutWatch::start(std::int32_t frames, double sampleRate) {
    m_frames = frames;
    m_sampleRate = sampleRate;
    m_last = {};
    m_periodsAmiss = 0;
    m_troubles.store(0, std::memory_order_relaxed);
}

void DropoutWatch::noteSwitch(const SwitchClock& clock) {
    if (m_last.samplePosition && clock.samplePosition) {
        const std::int64_t step = difference(*m_last.samplePosition, *clock.samplePosition);
        if (step != m_frames) {
            m_periodsAmiss +=
                periodsIn(std::abs(static_cast<double>(step) - m_frames) / std::max(m_frames, 1));
        }
    } else if (m_last.nanoseconds && clock.nanoseconds && m_sampleRate > 0 && m_frames > 0) {
        const double period = m_frames / m_sampleRate * 1e9;
        const auto gap =
            static_cast<double>(difference(static_cast<std::uint64_t>(*m_last.nanoseconds),
                                           static_cast<std::uint64_t>(*clock.nanoseconds)));
        if (gap > 1.5 * period) {
            m_periodsAmiss += periodsIn(gap / period - 1);
        }
    }
    m_last = clock;
}

std::int64_t DropoutWatch::periodsAmiss() const {
    return std::max(m_periodsAmiss, m_troubles.load(std::memory_order_relaxed));
}
