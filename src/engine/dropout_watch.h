#pragma once
// Whether a run lost or repeated periods. A measurement counts buffer switches and takes each for
// one period of the stream; a driver that skipped a period (its host was late, its server
// overloaded) or played one twice makes that count lie about time, and every latency from it is
// off by whole buffers. The watch sees what the host can learn besides the switch itself:
//
// - the driver's sample position at each switch (getSamplePosition, which a host may call inside
//   bufferSwitch): consecutive switches one period apart differ by exactly one buffer;
// - when the driver gives no position, the time of each switch: a gap of more than one and a half
//   periods means the driver went on without the host (positions are preferred: a host that is
//   late, but that the driver waits for, loses nothing);
// - what the driver says: a resync request, an overload, an xrun.

#include "asio/asio.h"

#include <atomic>
#include <cstdint>
#include <optional>

// What the host knows of one buffer switch besides its half.
struct SwitchClock {
    std::optional<std::uint64_t> samplePosition; // the driver's, from getSamplePosition
    std::optional<std::int64_t> nanoseconds;     // when it happened: the driver's time stamp or
                                                 // the host's steady clock, the same every switch
};

// Whether an asioMessage selector reports trouble that may have lost or repeated a period: a
// resync request or an overload. (A driver that counts xruns its own way, as a JACK client does,
// is asked by its host.)
constexpr bool reportsDropout(ASIOLong asioMessageSelector) {
    return asioMessageSelector == kAsioResyncRequest || asioMessageSelector == kAsioOverload;
}

// Threads: start() on the owner's thread while no switch runs; noteSwitch() on the driver's
// thread; noteTrouble() on any thread, real-time safe; periodsAmiss() on the owner's thread once
// the run has ended (the measurement's armed flag orders it after the last noteSwitch).
class DropoutWatch {
public:
    void start(std::int32_t frames, double sampleRate);
    void noteSwitch(const SwitchClock& clock);
    void noteTrouble() { m_troubles.fetch_add(1, std::memory_order_relaxed); }
    // Periods lost or repeated, at least: what the positions or the times show, or, when the
    // driver said more, one for each trouble it reported.
    std::int64_t periodsAmiss() const;

private:
    std::int32_t m_frames = 0;
    double m_sampleRate = 0;
    SwitchClock m_last;
    std::int64_t m_periodsAmiss = 0;
    std::atomic<std::int64_t> m_troubles{0};
};
