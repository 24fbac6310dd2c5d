#pragma once
// The verdict every measurement ends with. Verified: the latency is shown as a plain result and
// counts in statistics. Doubtful: there is a latency, but a check could not vouch for it; it is
// shown with its reasons and never counts. No result: nothing is shown but the reason.
//
// Reasons are typed; text is made from them at the edge (status box, CLI text, JSON).

#include <vector>

enum class Verdict { Verified, Doubtful, NoResult };

struct VerdictReason {
    enum Kind {
        NothingCameBack,      // no result: nothing of the stimulus came back in time
        LoopLongerThanWindow, // no result: value = the longest round trip searched, in samples
        NotThePulse,          // no result (threshold): what crossed is not the pulse
        OnsetNearThreshold,   // doubtful (threshold): value = the crossing's margin, in dB
        AmbiguousPaths,       // doubtful: value = the level between the two paths, in dB
        SignalUnexplained,    // doubtful: value = what is left over the noise floor, in dB
        Dropout,              // doubtful: value = periods lost or repeated during the run
        RecordingCutShort,    // doubtful: value = the longest round trip the recording watched,
                              // in samples, short of the longest searched
        RecordingUnusable,    // no result: the recording holds values that are not numbers, or
                              // memory ran short analysing it
        RateUnsupported,      // no result: value = the sample rate, in Hz
        SizeUnsupported,      // no result: value = the buffer size, in samples
    };
    Kind kind;
    double value = 0; // in the unit the kind names; 0 where it names none

    bool operator==(const VerdictReason&) const = default;
};

struct ResultVerdict {
    Verdict verdict = Verdict::NoResult;
    std::vector<VerdictReason> reasons; // why doubtful or why none; empty when verified

    bool verified() const { return verdict == Verdict::Verified; }
};
