// The simulator's settings: their text form and their checks.

#include "drivers/sim/sim_settings.h"
#include "asio/sample_types.h"
#include "engine/sample_format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

static_assert(kMaxSimChannels == 64 && kMaxLoopDelay == 4194304 && kMaxSimBufferSize == 1048576,
              "the texts below quote these limits");

constexpr std::array kFaultCodes{ASE_NotPresent,  ASE_HWMalfunction,  ASE_InvalidParameter,
                                 ASE_InvalidMode, ASE_SPNotAdvancing, ASE_NoClock,
                                 ASE_NoMemory};

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool sameWord(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

bool isOff(std::string_view text) {
    return sameWord(text, "off") || sameWord(text, "none") || sameWord(text, "never");
}

template <typename Number>
bool parseWhole(std::string_view text, Number& out) {
    Number value{};
    const auto* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end) {
        return false;
    }
    out = value;
    return true;
}

bool parseWholeIn(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t& out) {
    std::int64_t value = 0;
    if (!parseWhole(text, value) || value < low || value > high) {
        return false;
    }
    out = value;
    return true;
}

bool parseReal(std::string_view text, double& out) {
    double value = 0;
    const auto* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end || !std::isfinite(value)) {
        return false;
    }
    out = value;
    return true;
}

bool parseRate(std::string_view text, double& out) {
    double value = 0;
    if (!parseReal(text, value) || value <= 0) {
        return false;
    }
    out = value;
    return true;
}

std::string formatReal(double value) {
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc{} ? std::string(text, end) : std::string("nan");
}

std::string supportedTypeNames() {
    std::string names;
    for (ASIOSampleType type = 0; type < 32; ++type) {
        if (isSupported(type)) {
            names += names.empty() ? "" : ", ";
            names += describeSampleType(type);
        }
    }
    return names;
}

bool parseSampleType(std::string_view text, ASIOSampleType& out) {
    for (ASIOSampleType type = 0; type < 32; ++type) {
        if (isSupported(type) && sameWord(text, describeSampleType(type))) {
            out = type;
            return true;
        }
    }
    ASIOSampleType number = 0;
    if (parseWhole(text, number) && isSupported(number)) {
        out = number;
        return true;
    }
    return false;
}

bool parseFault(std::string_view text, ASIOError& out) {
    if (isOff(text) || sameWord(text, "ASE_OK")) {
        out = ASE_OK;
        return true;
    }
    for (const ASIOError code : kFaultCodes) {
        const std::string_view name = describeError(code);
        if (sameWord(text, name) || sameWord(text, name.substr(4))) {
            out = code;
            return true;
        }
    }
    return parseWhole(text, out);
}

std::string formatFault(ASIOError code) {
    if (code == ASE_OK) {
        return "off";
    }
    const char* name = describeError(code);
    return name != nullptr ? name : std::to_string(code);
}

bool parseSwitchNumber(std::string_view text, std::int64_t& out) {
    if (isOff(text)) {
        out = -1;
        return true;
    }
    return parseWholeIn(text, 0, std::numeric_limits<std::int64_t>::max(), out);
}

std::string formatSwitchNumber(std::int64_t number) {
    return number < 0 ? "off" : std::to_string(number);
}

// Calls `item` with each item of a list separated by '/' or ':', trimmed, while it returns true.
template <typename Item>
bool eachListItem(std::string_view text, Item item) {
    while (true) {
        const auto split = text.find_first_of("/:");
        if (!item(trim(text.substr(0, split)))) {
            return false;
        }
        if (split == std::string_view::npos) {
            return true;
        }
        text.remove_prefix(split + 1);
    }
}

// A list of items separated by '/' or ':', or none.
template <typename Item, typename ParseItem>
bool parseList(std::string_view text, std::vector<Item>& out, ParseItem parseItem) {
    std::vector<Item> items;
    if (!isOff(text) && !eachListItem(text, [&](std::string_view item) {
            return parseItem(item, items.emplace_back());
        })) {
        return false;
    }
    out = std::move(items);
    return true;
}

template <typename Item, typename FormatItem>
std::string formatList(const std::vector<Item>& items, FormatItem formatItem,
                       const char* separator = "/") {
    if (items.empty()) {
        return "none";
    }
    std::string text;
    for (const Item& item : items) {
        text += text.empty() ? "" : separator;
        text += formatItem(item);
    }
    return text;
}

// "1>3@52.5*-6dB": input 1 hears output 3, 52.5 samples later, 6 dB down; "1>-": no cable.
bool parseCable(std::string_view pair, SimCable& cable, bool& noCable) {
    const auto arrow = pair.find('>');
    std::int64_t input = 0;
    if (arrow == std::string_view::npos ||
        !parseWholeIn(trim(pair.substr(0, arrow)), 0, kMaxSimChannels - 1, input)) {
        return false;
    }
    cable.input = static_cast<int>(input);
    std::string_view rest = trim(pair.substr(arrow + 1));
    noCable = rest == "-";
    if (noCable) {
        return true;
    }
    if (const auto gainAt = rest.find('*'); gainAt != std::string_view::npos) {
        std::string_view gain = trim(rest.substr(gainAt + 1));
        if (gain.size() > 2 && sameWord(gain.substr(gain.size() - 2), "dB")) {
            gain.remove_suffix(2);
        }
        double decibels = 0;
        if (!parseReal(trim(gain), decibels)) {
            return false;
        }
        cable.gainDb = decibels;
        rest = trim(rest.substr(0, gainAt));
    }
    if (const auto delayAt = rest.find('@'); delayAt != std::string_view::npos) {
        double delay = 0;
        if (!parseReal(trim(rest.substr(delayAt + 1)), delay)) {
            return false;
        }
        cable.delay = delay;
        rest = trim(rest.substr(0, delayAt));
    }
    std::int64_t output = 0;
    if (!parseWholeIn(rest, 0, kMaxSimChannels - 1, output)) {
        return false;
    }
    cable.output = static_cast<int>(output);
    return true;
}

// Channels, delays and gains are checked with the counts, when the whole text is read.
bool parseRoute(std::string_view text, std::optional<std::vector<SimCable>>& out) {
    if (sameWord(text, "default")) {
        out.reset();
        return true;
    }
    std::vector<SimCable> cables;
    std::vector<int> unwired;
    if (!isOff(text) && !eachListItem(text, [&](std::string_view pair) {
            SimCable cable;
            bool noCable = false;
            if (!parseCable(pair, cable, noCable)) {
                return false;
            }
            const auto sameInput = [&](const SimCable& other) {
                return other.input == cable.input;
            };
            const bool unwiredBefore =
                std::find(unwired.begin(), unwired.end(), cable.input) != unwired.end();
            if (unwiredBefore ||
                (noCable && std::any_of(cables.begin(), cables.end(), sameInput))) {
                return false; // an input both with and without a cable
            }
            noCable ? unwired.push_back(cable.input) : cables.push_back(cable);
            return true;
        })) {
        return false;
    }
    out = std::move(cables);
    return true;
}

std::string formatRoute(const std::optional<std::vector<SimCable>>& routing) {
    if (!routing) {
        return "default";
    }
    const auto formatCable = [](const SimCable& cable) {
        return std::to_string(cable.input) + ">" + std::to_string(cable.output) +
               (cable.delay ? "@" + formatReal(*cable.delay) : "") +
               (cable.gainDb ? "*" + formatReal(*cable.gainDb) + "dB" : "");
    };
    return formatList(*routing, formatCable, ":");
}

// "0@0.7/256@0.3": no extra delay at weight 0.7, 256 samples more at weight 0.3.
bool parseOpenState(std::string_view text, SimOpenState& state) {
    const auto at = text.find('@');
    return parseWhole(trim(text.substr(0, at)), state.extraDelay) &&
           (at == std::string_view::npos || parseReal(trim(text.substr(at + 1)), state.weight));
}

std::string formatOpenState(const SimOpenState& state) {
    return std::to_string(state.extraDelay) + "@" + formatReal(state.weight);
}

// A number (a level, a gain, a time), or off.
bool parseNumberOrOff(std::string_view text, std::optional<double>& out) {
    double level = 0;
    if (isOff(text)) {
        out.reset();
    } else if (parseReal(text, level)) {
        out = level;
    } else {
        return false;
    }
    return true;
}

std::string formatNumberOrOff(const std::optional<double>& level) {
    return level ? formatReal(*level) : std::string("off");
}

bool parseFlag(std::string_view text, bool& out) {
    if (text == "1" || sameWord(text, "true") || sameWord(text, "yes") || sameWord(text, "on")) {
        out = true;
        return true;
    }
    if (text == "0" || sameWord(text, "false") || sameWord(text, "no") || sameWord(text, "off")) {
        out = false;
        return true;
    }
    return false;
}

// One key of the text form. parse returns false for a value it cannot take; format is null for
// keys that only offer another way to write what a different key formats.
struct Key {
    const char* name;
    const char* expected;
    bool (*parse)(std::string_view value, SimSettings& into);
    std::string (*format)(const SimSettings& settings);
};

// What an open input with its gain turned up picks up.
constexpr double kFloatingInputDbfs = -6;

bool isMainsFrequency(std::int64_t hertz) {
    return hertz == 50 || hertz == 60;
}

bool parseChannelCount(std::string_view text, int& out) {
    std::int64_t count = 0;
    if (!parseWholeIn(text, 0, kMaxSimChannels, count)) {
        return false;
    }
    out = static_cast<int>(count);
    return true;
}

// One of two words, each naming a value.
template <typename Value>
bool parseEither(std::string_view text, std::string_view firstWord, Value first,
                 std::string_view secondWord, Value second, Value& out) {
    if (!sameWord(text, firstWord) && !sameWord(text, secondWord)) {
        return false;
    }
    out = sameWord(text, firstWord) ? first : second;
    return true;
}

bool parseDropoutAt(std::string_view text, SimSettings& s) {
    if (!text.empty() && (text.back() == 's' || text.back() == 'S')) {
        double seconds = 0;
        if (!parseReal(trim(text.substr(0, text.size() - 1)), seconds)) {
            return false;
        }
        s.dropoutAtSeconds = seconds;
        s.dropoutAtSwitch = -1;
        return true;
    }
    s.dropoutAtSeconds.reset();
    return parseSwitchNumber(text, s.dropoutAtSwitch);
}

bool parseLong(std::string_view text, ASIOLong& out) {
    return parseWhole(text, out);
}

bool parseOffset(std::string_view text, ASIOLong& out) {
    std::int64_t offset = 0;
    if (!parseWholeIn(text, 0, kMaxSimBufferSize, offset)) {
        return false;
    }
    out = static_cast<ASIOLong>(offset);
    return true;
}

const std::array kKeys{
    Key{"inputs", "a whole number from 0 to 64",
        [](std::string_view v, SimSettings& s) { return parseChannelCount(v, s.inputs); },
        [](const SimSettings& s) { return std::to_string(s.inputs); }},
    Key{"outputs", "a whole number from 0 to 64",
        [](std::string_view v, SimSettings& s) { return parseChannelCount(v, s.outputs); },
        [](const SimSettings& s) { return std::to_string(s.outputs); }},
    Key{"type", nullptr, // the supported types, listed when the error is made
        [](std::string_view v, SimSettings& s) { return parseSampleType(v, s.sampleType); },
        [](const SimSettings& s) { return std::string(describeSampleType(s.sampleType)); }},
    Key{"rates", "rates in Hz from 1000 to 1000000 separated by '/' or ':', or none",
        [](std::string_view v, SimSettings& s) { return parseList(v, s.acceptedRates, parseRate); },
        [](const SimSettings& s) { return formatList(s.acceptedRates, formatReal); }},
    Key{"rate", "a rate in Hz from 1000 to 1000000",
        [](std::string_view v, SimSettings& s) { return parseRate(v, s.sampleRate); },
        [](const SimSettings& s) { return formatReal(s.sampleRate); }},
    Key{"min", "a 32-bit whole number",
        [](std::string_view v, SimSettings& s) { return parseLong(v, s.minBufferSize); },
        [](const SimSettings& s) { return std::to_string(s.minBufferSize); }},
    Key{"max", "a 32-bit whole number",
        [](std::string_view v, SimSettings& s) { return parseLong(v, s.maxBufferSize); },
        [](const SimSettings& s) { return std::to_string(s.maxBufferSize); }},
    Key{"preferred", "a 32-bit whole number",
        [](std::string_view v, SimSettings& s) { return parseLong(v, s.preferredBufferSize); },
        [](const SimSettings& s) { return std::to_string(s.preferredBufferSize); }},
    Key{"granularity", "a 32-bit whole number (-1: powers of two)",
        [](std::string_view v, SimSettings& s) { return parseLong(v, s.granularity); },
        [](const SimSettings& s) { return std::to_string(s.granularity); }},
    Key{"delay", "a number of samples from 0 to 4194304, fractions allowed (e.g. 100.25)",
        [](std::string_view v, SimSettings& s) { return parseReal(v, s.loopDelay); },
        [](const SimSettings& s) { return formatReal(s.loopDelay); }},
    Key{"gain", "a gain in dB from -200 to 60",
        [](std::string_view v, SimSettings& s) { return parseReal(v, s.loopGainDb); },
        [](const SimSettings& s) { return formatReal(s.loopGainDb); }},
    Key{"invert", "1 or 0 (also on/off, yes/no, true/false)",
        [](std::string_view v, SimSettings& s) { return parseFlag(v, s.invertPolarity); },
        [](const SimSettings& s) { return std::string(s.invertPolarity ? "1" : "0"); }},
    Key{"converter", "on or off (also 1/0, yes/no, true/false)",
        [](std::string_view v, SimSettings& s) { return parseFlag(v, s.converterFilter); },
        [](const SimSettings& s) { return std::string(s.converterFilter ? "on" : "off"); }},
    Key{"ac_coupling", "a high-pass cut-off in Hz from 0.01 to 100, or off",
        [](std::string_view v, SimSettings& s) { return parseNumberOrOff(v, s.acCouplingHz); },
        [](const SimSettings& s) { return formatNumberOrOff(s.acCouplingHz); }},
    Key{"noise", "a peak level in dBFS from -200 to 20, or off",
        [](std::string_view v, SimSettings& s) { return parseNumberOrOff(v, s.noiseDbfs); },
        [](const SimSettings& s) { return formatNumberOrOff(s.noiseDbfs); }},
    Key{"seed", "a whole number from 0 to 18446744073709551615",
        [](std::string_view v, SimSettings& s) { return parseWhole(v, s.noiseSeed); },
        [](const SimSettings& s) { return std::to_string(s.noiseSeed); }},
    Key{"floating", "on (noise at -6 dBFS peak), off, or a peak level in dBFS from -200 to 20",
        [](std::string_view v, SimSettings& s) {
            if (sameWord(v, "on")) {
                s.floatingDbfs = kFloatingInputDbfs;
                return true;
            }
            return parseNumberOrOff(v, s.floatingDbfs);
        },
        [](const SimSettings& s) { return formatNumberOrOff(s.floatingDbfs); }},
    Key{"dc", "a level in dBFS from -200 to 20, or off",
        [](std::string_view v, SimSettings& s) { return parseNumberOrOff(v, s.dcDbfs); },
        [](const SimSettings& s) { return formatNumberOrOff(s.dcDbfs); }},
    Key{"dc_polarity", "+ or -",
        [](std::string_view v, SimSettings& s) {
            if (v != "+" && v != "-") {
                return false;
            }
            s.negativeDc = v == "-";
            return true;
        },
        [](const SimSettings& s) { return std::string(s.negativeDc ? "-" : "+"); }},
    Key{"hum", "50, 60 (Hz) or off",
        [](std::string_view v, SimSettings& s) {
            std::int64_t hertz = 0;
            if (!isOff(v) && !(parseWhole(v, hertz) && isMainsFrequency(hertz))) {
                return false;
            }
            s.humHz = static_cast<int>(hertz);
            return true;
        },
        [](const SimSettings& s) {
            return s.humHz != 0 ? std::to_string(s.humHz) : std::string("off");
        }},
    Key{"hum_level", "a peak level in dBFS from -200 to 20",
        [](std::string_view v, SimSettings& s) { return parseReal(v, s.humDbfs); },
        [](const SimSettings& s) { return formatReal(s.humDbfs); }},
    Key{"ghost_gain", "a gain in dB from -200 to 60, or off",
        [](std::string_view v, SimSettings& s) { return parseNumberOrOff(v, s.ghostGainDb); },
        [](const SimSettings& s) { return formatNumberOrOff(s.ghostGainDb); }},
    Key{"ghost_delay", "a number of samples from 0 to 4194304, fractions allowed",
        [](std::string_view v, SimSettings& s) { return parseReal(v, s.ghostDelay); },
        [](const SimSettings& s) { return formatReal(s.ghostDelay); }},
    Key{"route",
        "default, none, or input>output pairs separated by ':' or '/', each with its own delay "
        "after '@' and gain in dB after '*' if it has them, '-' for no cable "
        "(e.g. 0>1@40*-6dB:1>0:1>1:2>-)",
        [](std::string_view v, SimSettings& s) { return parseRoute(v, s.routing); },
        [](const SimSettings& s) { return formatRoute(s.routing); }},
    Key{"open_states",
        "none, or whole extra delays in samples, each with '@' and its weight, separated by '/' "
        "or ':' (e.g. 0@0.7/256@0.3)",
        [](std::string_view v, SimSettings& s) {
            return parseList(v, s.openStates, parseOpenState);
        },
        [](const SimSettings& s) { return formatList(s.openStates, formatOpenState); }},
    Key{"jump_at", "seconds after the start, or off",
        [](std::string_view v, SimSettings& s) { return parseNumberOrOff(v, s.jumpAtSeconds); },
        [](const SimSettings& s) { return formatNumberOrOff(s.jumpAtSeconds); }},
    Key{"jump_by", "a whole number of samples from -4194304 to 4194304",
        [](std::string_view v, SimSettings& s) { return parseWhole(v, s.jumpBy); },
        [](const SimSettings& s) { return std::to_string(s.jumpBy); }},
    Key{"drift_ppm", "parts per million from -1000 to 1000 (0: none)",
        [](std::string_view v, SimSettings& s) { return parseReal(v, s.driftPpm); },
        [](const SimSettings& s) { return formatReal(s.driftPpm); }},
    Key{"cable", "on (the default routing) or off (no input has a cable)",
        [](std::string_view v, SimSettings& s) {
            bool cable = false;
            if (!parseFlag(v, cable)) {
                return false;
            }
            s.routing = cable ? std::nullopt : std::optional<std::vector<SimCable>>(std::in_place);
            return true;
        },
        nullptr},
    Key{"pace", "realtime or freewheel",
        [](std::string_view v, SimSettings& s) {
            return parseEither(v, "realtime", SimPacing::RealTime, "freewheel",
                               SimPacing::Freewheel, s.pacing);
        },
        [](const SimSettings& s) {
            return std::string(s.pacing == SimPacing::RealTime ? "realtime" : "freewheel");
        }},
    Key{"init", "the 32-bit whole number init returns (1 is success)",
        [](std::string_view v, SimSettings& s) { return parseWhole(v, s.initResult); },
        [](const SimSettings& s) { return std::to_string(s.initResult); }},
    Key{"createfail", "off, an error name such as ASE_HWMalfunction, or a code",
        [](std::string_view v, SimSettings& s) { return parseFault(v, s.createBuffersFailure); },
        [](const SimSettings& s) { return formatFault(s.createBuffersFailure); }},
    Key{"startfail", "off, an error name such as ASE_HWMalfunction, or a code",
        [](std::string_view v, SimSettings& s) { return parseFault(v, s.startFailure); },
        [](const SimSettings& s) { return formatFault(s.startFailure); }},
    Key{"stopfail", "off, an error name such as ASE_HWMalfunction, or a code",
        [](std::string_view v, SimSettings& s) { return parseFault(v, s.stopFailure); },
        [](const SimSettings& s) { return formatFault(s.stopFailure); }},
    Key{"reset_at", "a switch number from 0, or off",
        [](std::string_view v, SimSettings& s) {
            return parseSwitchNumber(v, s.resetRequestAtSwitch);
        },
        [](const SimSettings& s) { return formatSwitchNumber(s.resetRequestAtSwitch); }},
    Key{"ratechange_at", "a switch number from 0, or off",
        [](std::string_view v, SimSettings& s) {
            return parseSwitchNumber(v, s.rateChangeAtSwitch);
        },
        [](const SimSettings& s) { return formatSwitchNumber(s.rateChangeAtSwitch); }},
    Key{"events_start", "a start of the driver from 1",
        [](std::string_view v, SimSettings& s) { return parseWhole(v, s.deviceEventsStart); },
        [](const SimSettings& s) { return std::to_string(s.deviceEventsStart); }},
    Key{"ratechange_to", "a rate in Hz from 1000 to 1000000",
        [](std::string_view v, SimSettings& s) { return parseRate(v, s.rateChangeTo); },
        [](const SimSettings& s) { return formatReal(s.rateChangeTo); }},
    Key{"dropout_at", "a switch number from 0, a time after the start such as 1.5s, or off",
        [](std::string_view v, SimSettings& s) { return parseDropoutAt(v, s); },
        [](const SimSettings& s) {
            return s.dropoutAtSeconds ? formatReal(*s.dropoutAtSeconds) + "s"
                                      : formatSwitchNumber(s.dropoutAtSwitch);
        }},
    Key{"dropout_periods", "a whole number of periods from 1 to 1000",
        [](std::string_view v, SimSettings& s) { return parseWhole(v, s.dropoutPeriods); },
        [](const SimSettings& s) { return std::to_string(s.dropoutPeriods); }},
    Key{"dropout_kind", "lost or repeated",
        [](std::string_view v, SimSettings& s) {
            return parseEither(v, "lost", SimDropoutKind::Lost, "repeated",
                               SimDropoutKind::Repeated, s.dropoutKind);
        },
        [](const SimSettings& s) {
            return std::string(s.dropoutKind == SimDropoutKind::Lost ? "lost" : "repeated");
        }},
    Key{"inlatency", "a whole number of samples from 0 to 1048576",
        [](std::string_view v, SimSettings& s) { return parseOffset(v, s.inputSafetyOffset); },
        [](const SimSettings& s) { return std::to_string(s.inputSafetyOffset); }},
    Key{"outlatency", "a whole number of samples from 0 to 1048576",
        [](std::string_view v, SimSettings& s) { return parseOffset(v, s.outputSafetyOffset); },
        [](const SimSettings& s) { return std::to_string(s.outputSafetyOffset); }},
};

std::string keyNames() {
    std::string names;
    for (const Key& key : kKeys) {
        names += names.empty() ? "" : ", ";
        names += key.name;
    }
    return names;
}

bool setError(std::string* error, std::string text) {
    if (error != nullptr) {
        *error = std::move(text);
    }
    return false;
}

// The limits of the numbers in the settings; the key texts above quote them.
constexpr double kLowestRate = 1000;
constexpr double kHighestRate = 1e6;
constexpr double kLowestGainDb = -200;
constexpr double kHighestGainDb = 60;
constexpr double kLowestLevelDbfs = -200;
constexpr double kHighestLevelDbfs = 20;
constexpr double kLongestSeconds = 1e6;
constexpr double kMostDropoutPeriods = 1000;
constexpr double kMostEventsStart = 1000;
constexpr std::size_t kMostOpenStates = 16;
constexpr double kLightestWeight = 1e-6;
constexpr double kHeaviestWeight = 1e6;
constexpr double kMostDriftPpm = 1000;
constexpr double kLowestCouplingHz = 0.01;
constexpr double kHighestCouplingHz = 100;

const std::vector<SimCable>& cablesOf(const std::optional<std::vector<SimCable>>& routing) {
    static const std::vector<SimCable> none;
    return routing ? *routing : none;
}

// One number of the settings and the range it must lie in.
struct Bound {
    std::string key;
    double value;
    double low;
    double high;
    const char* unit;
};

std::string fullDigits(double value) {
    char text[400];
    const auto [end, error] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    return error == std::errc{} ? std::string(text, end) : formatReal(value);
}

// Every number that sizes memory, paces the thread or is converted, with its range.
std::vector<Bound> boundsOf(const SimSettings& s) {
    constexpr double kLongest = kMaxLoopDelay;
    std::vector<Bound> bounds{
        {"rate", s.sampleRate, kLowestRate, kHighestRate, " Hz"},
        {"ratechange_to", s.rateChangeTo, kLowestRate, kHighestRate, " Hz"},
        {"delay", s.loopDelay, 0, kLongest, " samples"},
        {"ghost_delay", s.ghostDelay, 0, kLongest, " samples"},
        {"gain", s.loopGainDb, kLowestGainDb, kHighestGainDb, " dB"},
        {"hum_level", s.humDbfs, kLowestLevelDbfs, kHighestLevelDbfs, " dBFS"},
        {"inlatency", static_cast<double>(s.inputSafetyOffset), 0, kMaxSimBufferSize, " samples"},
        {"outlatency", static_cast<double>(s.outputSafetyOffset), 0, kMaxSimBufferSize, " samples"},
        {"drift_ppm", s.driftPpm, -kMostDriftPpm, kMostDriftPpm, " ppm"},
        {"jump_by", static_cast<double>(s.jumpBy), -kLongest, kLongest, " samples"},
        {"dropout_periods", static_cast<double>(s.dropoutPeriods), 1, kMostDropoutPeriods,
         " periods"},
        {"events_start", static_cast<double>(s.deviceEventsStart), 1, kMostEventsStart, ""},
    };
    const auto optional = [&](const char* key, const std::optional<double>& value, double low,
                              double high, const char* unit) {
        if (value) {
            bounds.push_back({key, *value, low, high, unit});
        }
    };
    optional("noise", s.noiseDbfs, kLowestLevelDbfs, kHighestLevelDbfs, " dBFS");
    optional("floating", s.floatingDbfs, kLowestLevelDbfs, kHighestLevelDbfs, " dBFS");
    optional("dc", s.dcDbfs, kLowestLevelDbfs, kHighestLevelDbfs, " dBFS");
    optional("ghost_gain", s.ghostGainDb, kLowestGainDb, kHighestGainDb, " dB");
    optional("ac_coupling", s.acCouplingHz, kLowestCouplingHz, kHighestCouplingHz, " Hz");
    optional("jump_at", s.jumpAtSeconds, 0, kLongestSeconds, " s");
    optional("dropout_at", s.dropoutAtSeconds, 0, kLongestSeconds, " s");
    for (const double rate : s.acceptedRates) {
        bounds.push_back({"rates", rate, kLowestRate, kHighestRate, " Hz"});
    }
    for (const SimCable& cable : cablesOf(s.routing)) {
        const std::string key =
            "route " + std::to_string(cable.input) + ">" + std::to_string(cable.output);
        optional((key + " delay").c_str(), cable.delay, 0, kLongest, " samples");
        optional((key + " gain").c_str(), cable.gainDb, kLowestGainDb, kHighestGainDb, " dB");
    }
    for (const SimOpenState& state : s.openStates) {
        bounds.push_back({"open_states delay", static_cast<double>(state.extraDelay), -kLongest,
                          kLongest, " samples"});
        bounds.push_back(
            {"open_states weight", state.weight, kLightestWeight, kHeaviestWeight, ""});
    }
    return bounds;
}

// The whole samples that open states and the jump add to every path, at least and at most.
SimSettings::Movement wholeMovement(const SimSettings& s) {
    std::int64_t least = 0;
    std::int64_t most = 0;
    if (s.jumpAtSeconds) {
        least = std::min<std::int64_t>(s.jumpBy, 0);
        most = std::max<std::int64_t>(s.jumpBy, 0);
    }
    if (!s.openStates.empty()) {
        const auto [lowest, highest] =
            std::minmax_element(s.openStates.begin(), s.openStates.end(),
                                [](const SimOpenState& a, const SimOpenState& b) {
                                    return a.extraDelay < b.extraDelay;
                                });
        least += lowest->extraDelay;
        most += highest->extraDelay;
    }
    return {static_cast<double>(least), static_cast<double>(most)};
}

// Refuses a path that would have to hear a sample before it was played: its delay, moved as far
// down as open states and the jump go, must leave room for its filter.
bool checkPathDelays(const SimSettings& s, std::string* error) {
    const double least = wholeMovement(s).least;
    for (const SimPath& path : s.paths()) {
        const double filterDelay = s.filterDelayOf(path);
        const double lowest = path.delay + least;
        if (lowest >= filterDelay) {
            continue;
        }
        std::string text = !path.analog ? "ghost_delay"
                           : s.routing  ? "route " + std::to_string(path.input) + ">" +
                                             std::to_string(path.output) + " delay"
                                       : "delay";
        text += " " + formatReal(path.delay);
        if (least != 0) {
            text += " (" + formatReal(lowest) + " with open_states and jump_by)";
        }
        if (filterDelay == 0) {
            return setError(error, text + " is less than 0 samples");
        }
        return setError(error, text + " is less than the group delay of the filter it needs, " +
                                   formatReal(filterDelay) +
                                   " samples: fractional delays, drift_ppm and converter=on need "
                                   "at least " +
                                   std::to_string(kCableFilterHalfLength) + " samples");
    }
    return true;
}

bool checkRouting(const SimSettings& s, std::string* error) {
    const std::vector<SimCable>& cables = *s.routing;
    for (auto cable = cables.begin(); cable != cables.end(); ++cable) {
        const std::string pair = std::to_string(cable->input) + ">" + std::to_string(cable->output);
        if (cable->input < 0 || cable->input >= s.inputs) {
            return setError(error, "route " + pair + ": input " + std::to_string(cable->input) +
                                       " does not exist (" + std::to_string(s.inputs) + " inputs)");
        }
        if (cable->output < 0 || cable->output >= s.outputs) {
            return setError(error, "route " + pair + ": output " + std::to_string(cable->output) +
                                       " does not exist (" + std::to_string(s.outputs) +
                                       " outputs)");
        }
        const auto samePair = [&](const SimCable& other) {
            return other.input == cable->input && other.output == cable->output;
        };
        if (std::any_of(cables.begin(), cable, samePair)) {
            return setError(error, "route " + pair + " is given twice");
        }
    }
    return true;
}

} // namespace

std::vector<SimPath> SimSettings::paths() const {
    std::vector<SimPath> all;
    const double polarity = invertPolarity ? -1.0 : 1.0;
    const auto amplitudeOf = [](double decibels) { return std::pow(10.0, decibels / 20.0); };
    const auto addCable = [&](int input, int output, double delay, double gainDb) {
        all.push_back({input, output, delay, polarity * amplitudeOf(gainDb), true});
    };
    const int pairs = std::min(inputs, outputs);
    if (routing) {
        for (const SimCable& cable : *routing) {
            addCable(cable.input, cable.output, cable.delay.value_or(loopDelay),
                     cable.gainDb.value_or(loopGainDb));
        }
    } else {
        for (int k = 0; k < pairs; ++k) {
            addCable(k, k, loopDelay, loopGainDb);
        }
    }
    for (int k = 0; ghostGainDb && k < pairs; ++k) {
        all.push_back({k, k, ghostDelay, amplitudeOf(*ghostGainDb), false});
    }
    return all;
}

double SimSettings::filterDelayOf(const SimPath& path) const {
    const double fraction = path.delay - std::floor(path.delay);
    const bool filtered = (path.analog && converterFilter) || fraction != 0 || driftPpm != 0;
    return filtered ? kCableFilterHalfLength + fraction : 0.0;
}

double SimSettings::driftRange() const {
    if (driftPpm >= 0) {
        return kDriftSlip;
    }
    // Down to the filter's group delay on the shortest path, and no further.
    double shortest = std::numeric_limits<double>::infinity();
    for (const SimPath& path : paths()) {
        shortest = std::min(shortest, path.delay);
    }
    return std::min(kDriftSlip, shortest + wholeMovement(*this).least - kCableFilterHalfLength);
}

SimSettings::Movement SimSettings::delayMovement() const {
    Movement movement = wholeMovement(*this);
    if (driftPpm > 0) {
        movement.most += driftRange();
    } else if (driftPpm < 0) {
        movement.least -= driftRange();
    }
    return movement;
}

bool validateSimSettings(const SimSettings& s, std::string* error) {
    if (s.inputs < 0 || s.inputs > kMaxSimChannels || s.outputs < 0 ||
        s.outputs > kMaxSimChannels) {
        return setError(error, "inputs and outputs: each must be from 0 to 64");
    }
    if (!isSupported(s.sampleType)) {
        return setError(error, "type " + std::to_string(s.sampleType) +
                                   " is not supported; valid: " + supportedTypeNames());
    }
    for (const Bound& bound : boundsOf(s)) {
        if (!(bound.value >= bound.low && bound.value <= bound.high)) { // NaN too
            return setError(error, bound.key + " " + formatReal(bound.value) +
                                       " is out of range: valid from " + fullDigits(bound.low) +
                                       " to " + fullDigits(bound.high) + bound.unit);
        }
    }
    const std::int64_t longestOffset = std::max(s.inputSafetyOffset, s.outputSafetyOffset);
    if (std::int64_t{s.preferredBufferSize} + longestOffset >
        std::numeric_limits<ASIOLong>::max()) {
        return setError(error, "preferred " + std::to_string(s.preferredBufferSize) + " plus " +
                                   std::to_string(longestOffset) +
                                   " (inlatency or outlatency) passes the largest 32-bit latency");
    }
    if (s.humHz != 0 && !isMainsFrequency(s.humHz)) {
        return setError(error, "hum must be 50 or 60 Hz, or off");
    }
    if (s.resetRequestAtSwitch < -1 || s.rateChangeAtSwitch < -1 || s.dropoutAtSwitch < -1) {
        return setError(error,
                        "reset_at, ratechange_at and dropout_at must be a switch number or off");
    }
    if (s.openStates.size() > kMostOpenStates) {
        return setError(error, "open_states: " + std::to_string(s.openStates.size()) +
                                   " states; valid: at most " + std::to_string(kMostOpenStates));
    }
    if (s.routing && !checkRouting(s, error)) {
        return false;
    }
    if (!checkPathDelays(s, error)) {
        return false;
    }
    if (s.driftPpm < 0 && s.driftRange() < 1) {
        return setError(error, "drift_ppm below 0 needs every path at least " +
                                   std::to_string(kCableFilterHalfLength + 1) +
                                   " samples long, open_states and jump_by included");
    }
    return true;
}

bool parseSimSettings(std::string_view text, SimSettings& into, std::string* error) {
    SimSettings parsed = into;
    while (!text.empty()) {
        const auto split = text.find_first_of(",;");
        const std::string_view item = trim(text.substr(0, split));
        text.remove_prefix(split == std::string_view::npos ? text.size() : split + 1);
        if (item.empty()) {
            continue;
        }
        const auto equals = item.find('=');
        if (equals == std::string_view::npos) {
            std::string message(1, '\'');
            message.append(item).append("' has no value; write key=value");
            return setError(error, message);
        }
        const std::string_view name = trim(item.substr(0, equals));
        const std::string_view value = trim(item.substr(equals + 1));
        const Key* key = nullptr;
        for (const Key& candidate : kKeys) {
            key = sameWord(name, candidate.name) ? &candidate : key;
        }
        if (key == nullptr) {
            return setError(error,
                            "unknown key '" + std::string(name) + "'; valid keys: " + keyNames());
        }
        if (!key->parse(value, parsed)) {
            const std::string expected =
                key->expected != nullptr ? key->expected : "one of " + supportedTypeNames();
            return setError(error, "bad value '" + std::string(value) + "' for " + key->name +
                                       ": expected " + expected);
        }
    }
    if (!validateSimSettings(parsed, error)) {
        return false;
    }
    into = std::move(parsed);
    return true;
}

std::string formatSimSettings(const SimSettings& settings) {
    std::string text;
    for (const Key& key : kKeys) {
        if (key.format != nullptr) {
            text += text.empty() ? "" : ",";
            text += std::string(key.name) + "=" + key.format(settings);
        }
    }
    return text;
}

const char* simSettingsHelp() {
    return "Simulator settings are key=value items separated by ',' or ';': inputs and outputs "
           "(channel counts, 0 to 64), type (sample type by name, e.g. Int24LSB, or number), "
           "rates (accepted rates separated by '/', or none), rate (current rate; rates from "
           "1000 to 1000000 Hz), min, max, preferred and granularity (buffer sizes reported; "
           "granularity -1 means powers of two), delay (loop delay in samples; a fraction such "
           "as 100.25 is band-limited), gain (dB; inputs saturate at full scale), invert "
           "(polarity, 1 or 0), converter (on: a linear-phase low-pass at 0.45 x rate, its group "
           "delay part of the delay), ac_coupling (a high-pass on the inputs at this many Hz, or "
           "off), noise (peak dBFS, or off) and seed, floating (on: inputs with no cable hear "
           "loud noise), dc (offset in dBFS, or off) and dc_polarity (+ or -), hum (50 or 60 Hz, "
           "or off) and hum_level (peak dBFS), ghost_gain (dB, or off) and ghost_delay (samples) "
           "for output k leaking into input k, route (input>output pairs such as "
           "0>1@40*-6dB:1>0, each with its own delay after '@' and gain after '*' if it has "
           "them; an input may hear several outputs, '-' for no cable, or default or none), "
           "cable=off (no cable at all), open_states (extra delays drawn at each start with "
           "their weights, e.g. 0@0.7/256@0.3), jump_at (seconds after the start) and jump_by "
           "(samples the delays then change by), drift_ppm (input clock against output clock), "
           "pace (realtime or freewheel), init (what init returns), createfail, startfail and "
           "stopfail (an error such as ASE_HWMalfunction, or off), reset_at and ratechange_at "
           "(switch numbers for a reset request and a rate change, or off), events_start (the "
           "start of the driver whose run they come in, from 1), ratechange_to (the new rate), "
           "dropout_at (a switch number or a time such as 1.5s, or off), "
           "dropout_periods and dropout_kind (lost or repeated periods), inlatency and outlatency "
           "(safety offsets in samples that getLatencies adds to the buffer size).";
}

SimSettings::Offsets SimSettings::reportedOffsets() const {
    double shortest = loopDelay;
    for (const SimCable& cable : cablesOf(routing)) {
        shortest = std::min(shortest, cable.delay.value_or(loopDelay));
    }
    const auto wholeDelay = static_cast<ASIOLong>(std::floor(shortest));
    const ASIOLong input = std::clamp<ASIOLong>(inputSafetyOffset, 0, wholeDelay);
    const ASIOLong output = std::clamp<ASIOLong>(outputSafetyOffset, 0, wholeDelay - input);
    return {input, output};
}

double SimSettings::unreportedDelay() const {
    const Offsets offsets = reportedOffsets();
    return loopDelay - offsets.input - offsets.output;
}
