#pragma once
// Starting only once the inputs are quiet: an armed measurement may first listen, its outputs
// silent, until every input has stayed under a level for a while, so that what the run hears is
// its own stimulus and not the tail of an earlier one or another program's signal. The wait is
// bounded: inputs that never fall quiet end the run with no result.

#include "engine/detection_method.h"

#include <cstdint>

struct QuietStart {
    double levelDbfs = -50;     // every input's swing (half its peak-to-peak) stays under this
    double quietSeconds = 0.02; // for this long without a break, and at least one buffer
    double maxWaitSeconds = 2;  // listening at most this long
};

// Driver's thread between start() calls, which the owner makes while no switch runs.
class QuietListener {
public:
    enum class State { Listening, Quiet, NeverQuiet };

    void start(const QuietStart& options, double sampleRate);
    // One switch on `half`: silences the outputs' half, listens to the inputs'.
    State onSwitch(const StreamSnapshot& stream, int half);
    // The quietest the inputs were over a whole switch, in dBFS.
    double quietestDbfs() const;

private:
    double m_level = 0;          // normalised
    std::int64_t m_quietFor = 0; // samples
    std::int64_t m_maxWait = 0;  // samples
    std::int64_t m_quietRun = 0;
    std::int64_t m_waited = 0;
    double m_quietest = 0;
};
