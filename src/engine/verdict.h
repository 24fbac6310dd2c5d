#pragma once
// The verdict every measurement ends with. Verified: the latency is shown as a plain result and
// counts in statistics. Doubtful: there is a latency, but a check could not vouch for it; it is
// shown with its reasons and never counts. No result: nothing is shown but the reason.
//
// Reasons are typed; text is made from them at the edge (status box, CLI text, JSON). A method adds
// its own reasons when it describes its result (engine/detection_method.h), the measurement adds
// what the run itself saw and settles the verdict (settleVerdict).

#include <algorithm>
#include <utility>
#include <vector>

enum class Verdict { Verified, Doubtful, NoResult };

struct VerdictReason {
    enum Kind {
        NothingCameBack,      // no result: nothing came back in time; value (correlation) = the
                              // longest round trip searched, in samples
        LoopLongerThanWindow, // no result: value = the longest round trip searched, in samples
        NotThePulse,          // no result (threshold): what crossed is not the pulse
        OnsetNearThreshold,   // doubtful (threshold): value = the crossing's margin, in dB
        AmbiguousPaths,       // doubtful: value = the level between the two paths, in dB
        SignalUnexplained,    // doubtful: value = what is left over the noise floor, in dB
        Dropout,              // doubtful: value = periods lost or repeated during the run, at least
        InputsNeverQuiet,     // no result: value = the quietest the inputs fell, in dBFS
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

// Whether a reason of this kind means there is no latency at all; the others only doubt one.
constexpr bool meansNoResult(VerdictReason::Kind kind) {
    return kind == VerdictReason::NothingCameBack || kind == VerdictReason::LoopLongerThanWindow ||
           kind == VerdictReason::NotThePulse || kind == VerdictReason::InputsNeverQuiet ||
           kind == VerdictReason::RecordingUnusable || kind == VerdictReason::RateUnsupported ||
           kind == VerdictReason::SizeUnsupported;
}

// The verdict that `reasons` and the presence of a latency make: no latency is no result, with
// nothing having come back as its reason unless one says why; a latency with reasons is doubtful,
// one without is verified.
inline ResultVerdict settleVerdict(bool hasLatency, std::vector<VerdictReason> reasons) {
    if (!hasLatency) {
        if (std::none_of(reasons.begin(), reasons.end(),
                         [](const VerdictReason& r) { return meansNoResult(r.kind); })) {
            reasons.insert(reasons.begin(), {VerdictReason::NothingCameBack});
        }
        return {Verdict::NoResult, std::move(reasons)};
    }
    return {reasons.empty() ? Verdict::Verified : Verdict::Doubtful, std::move(reasons)};
}
