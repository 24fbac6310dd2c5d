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

bool parseRates(std::string_view text, std::vector<ASIOSampleRate>& out) {
    std::vector<ASIOSampleRate> rates;
    if (!isOff(text)) {
        while (true) {
            const auto split = text.find_first_of("/:");
            double rate = 0;
            if (!parseRate(trim(text.substr(0, split)), rate)) {
                return false;
            }
            rates.push_back(rate);
            if (split == std::string_view::npos) {
                break;
            }
            text.remove_prefix(split + 1);
        }
    }
    out = std::move(rates);
    return true;
}

std::string formatRates(const std::vector<ASIOSampleRate>& rates) {
    if (rates.empty()) {
        return "none";
    }
    std::string text;
    for (const double rate : rates) {
        text += text.empty() ? "" : "/";
        text += formatReal(rate);
    }
    return text;
}

// "0>1:1>-": input 0 hears output 1, input 1 has no cable. Ranges are checked with the counts.
bool parseRoute(std::string_view text, std::optional<std::vector<int>>& out) {
    if (sameWord(text, "default")) {
        out.reset();
        return true;
    }
    std::vector<int> routing;
    if (!isOff(text)) {
        while (true) {
            const auto split = text.find_first_of("/:");
            const std::string_view pair = trim(text.substr(0, split));
            const auto arrow = pair.find('>');
            if (arrow == std::string_view::npos) {
                return false;
            }
            std::int64_t input = 0;
            std::int64_t output = kNoCable;
            const std::string_view source = trim(pair.substr(arrow + 1));
            if (!parseWholeIn(trim(pair.substr(0, arrow)), 0, kMaxSimChannels - 1, input) ||
                (source != "-" && !parseWholeIn(source, 0, kMaxSimChannels - 1, output))) {
                return false;
            }
            const auto at = static_cast<std::size_t>(input);
            if (routing.size() <= at) {
                routing.resize(at + 1, -2); // -2: not given yet
            } else if (routing[at] != -2) {
                return false; // the same input twice
            }
            routing[at] = static_cast<int>(output);
            if (split == std::string_view::npos) {
                break;
            }
            text.remove_prefix(split + 1);
        }
    }
    for (int& source : routing) {
        source = source == -2 ? kNoCable : source;
    }
    out = std::move(routing);
    return true;
}

std::string formatRoute(const std::optional<std::vector<int>>& routing) {
    if (!routing) {
        return "default";
    }
    if (routing->empty()) {
        return "none";
    }
    std::string text;
    for (std::size_t input = 0; input < routing->size(); ++input) {
        const int source = (*routing)[input];
        text += text.empty() ? "" : ":";
        text += std::to_string(input) + ">" + (source == kNoCable ? "-" : std::to_string(source));
    }
    return text;
}

// A level in dB, or off.
bool parseLevel(std::string_view text, std::optional<double>& out) {
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

std::string formatLevel(const std::optional<double>& level) {
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
    Key{"rates", "rates in Hz above 0 separated by '/' or ':', or none",
        [](std::string_view v, SimSettings& s) { return parseRates(v, s.acceptedRates); },
        [](const SimSettings& s) { return formatRates(s.acceptedRates); }},
    Key{"rate", "a rate in Hz above 0",
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
        [](std::string_view v, SimSettings& s) {
            double delay = 0;
            const bool ok = parseReal(v, delay) && delay >= 0 && delay <= kMaxLoopDelay;
            s.loopDelay = ok ? delay : s.loopDelay;
            return ok;
        },
        [](const SimSettings& s) { return formatReal(s.loopDelay); }},
    Key{"gain", "a gain in dB",
        [](std::string_view v, SimSettings& s) { return parseReal(v, s.loopGainDb); },
        [](const SimSettings& s) { return formatReal(s.loopGainDb); }},
    Key{"invert", "1 or 0 (also on/off, yes/no, true/false)",
        [](std::string_view v, SimSettings& s) { return parseFlag(v, s.invertPolarity); },
        [](const SimSettings& s) { return std::string(s.invertPolarity ? "1" : "0"); }},
    Key{"converter", "on or off (also 1/0, yes/no, true/false)",
        [](std::string_view v, SimSettings& s) { return parseFlag(v, s.converterFilter); },
        [](const SimSettings& s) { return std::string(s.converterFilter ? "on" : "off"); }},
    Key{"noise", "a peak level in dBFS, or off",
        [](std::string_view v, SimSettings& s) { return parseLevel(v, s.noiseDbfs); },
        [](const SimSettings& s) { return formatLevel(s.noiseDbfs); }},
    Key{"seed", "a whole number from 0 to 18446744073709551615",
        [](std::string_view v, SimSettings& s) { return parseWhole(v, s.noiseSeed); },
        [](const SimSettings& s) { return std::to_string(s.noiseSeed); }},
    Key{"floating", "on (noise at -6 dBFS peak), off, or a peak level in dBFS",
        [](std::string_view v, SimSettings& s) {
            if (sameWord(v, "on")) {
                s.floatingDbfs = kFloatingInputDbfs;
                return true;
            }
            return parseLevel(v, s.floatingDbfs);
        },
        [](const SimSettings& s) { return formatLevel(s.floatingDbfs); }},
    Key{"dc", "a level in dBFS, or off",
        [](std::string_view v, SimSettings& s) { return parseLevel(v, s.dcDbfs); },
        [](const SimSettings& s) { return formatLevel(s.dcDbfs); }},
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
    Key{"hum_level", "a peak level in dBFS",
        [](std::string_view v, SimSettings& s) { return parseReal(v, s.humDbfs); },
        [](const SimSettings& s) { return formatReal(s.humDbfs); }},
    Key{"ghost_gain", "a gain in dB, or off",
        [](std::string_view v, SimSettings& s) { return parseLevel(v, s.ghostGainDb); },
        [](const SimSettings& s) { return formatLevel(s.ghostGainDb); }},
    Key{"ghost_delay", "a whole number of samples from 0 to 4194304",
        [](std::string_view v, SimSettings& s) {
            std::int64_t delay = 0;
            const bool ok = parseWholeIn(v, 0, kMaxLoopDelay, delay);
            s.ghostDelay = ok ? static_cast<int>(delay) : s.ghostDelay;
            return ok;
        },
        [](const SimSettings& s) { return std::to_string(s.ghostDelay); }},
    Key{"route",
        "default, none, or input>output pairs separated by ':' or '/', each input once, "
        "'-' for no cable (e.g. 0>1:1>-)",
        [](std::string_view v, SimSettings& s) { return parseRoute(v, s.routing); },
        [](const SimSettings& s) { return formatRoute(s.routing); }},
    Key{"cable", "on (the default routing) or off (no input has a cable)",
        [](std::string_view v, SimSettings& s) {
            bool cable = false;
            if (!parseFlag(v, cable)) {
                return false;
            }
            s.routing = cable ? std::nullopt : std::optional<std::vector<int>>(std::in_place);
            return true;
        },
        nullptr},
    Key{"pace", "realtime or freewheel",
        [](std::string_view v, SimSettings& s) {
            const bool realTime = sameWord(v, "realtime");
            if (!realTime && !sameWord(v, "freewheel")) {
                return false;
            }
            s.pacing = realTime ? SimPacing::RealTime : SimPacing::Freewheel;
            return true;
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
    Key{"ratechange_to", "a rate in Hz above 0",
        [](std::string_view v, SimSettings& s) { return parseRate(v, s.rateChangeTo); },
        [](const SimSettings& s) { return formatReal(s.rateChangeTo); }},
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

bool isRate(double rate) {
    return std::isfinite(rate) && rate > 0;
}

} // namespace

double SimSettings::cableFilterDelay() const {
    const double fraction = loopDelay - std::floor(loopDelay);
    return converterFilter || fraction != 0 ? kCableFilterHalfLength + fraction : 0.0;
}

int SimSettings::sourceOf(int input) const {
    if (!routing) {
        return input < outputs ? input : kNoCable;
    }
    const auto at = static_cast<std::size_t>(input);
    return at < routing->size() ? (*routing)[at] : kNoCable;
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
    for (const double rate : s.acceptedRates) {
        if (!isRate(rate)) {
            return setError(error, "rates: every rate must be a finite number above 0");
        }
    }
    if (!isRate(s.sampleRate) || !isRate(s.rateChangeTo)) {
        return setError(error, "rate and ratechange_to must be finite numbers above 0");
    }
    if (!(s.loopDelay >= 0 && s.loopDelay <= kMaxLoopDelay) || s.ghostDelay < 0 ||
        s.ghostDelay > kMaxLoopDelay) {
        return setError(error, "delay and ghost_delay must be from 0 to 4194304 samples");
    }
    if (s.loopDelay < s.cableFilterDelay()) {
        return setError(error, "delay " + formatReal(s.loopDelay) +
                                   " is less than the group delay of the filter it needs, " +
                                   formatReal(s.cableFilterDelay()) +
                                   " samples: fractional delays and converter=on need at least " +
                                   std::to_string(kCableFilterHalfLength) + " samples");
    }
    if (s.inputSafetyOffset < 0 || s.inputSafetyOffset > kMaxSimBufferSize ||
        s.outputSafetyOffset < 0 || s.outputSafetyOffset > kMaxSimBufferSize) {
        return setError(error, "inlatency and outlatency must be from 0 to 1048576 samples");
    }
    for (const std::optional<double>& level :
         {std::optional(s.loopGainDb), s.noiseDbfs, s.floatingDbfs, s.dcDbfs,
          std::optional(s.humDbfs), s.ghostGainDb}) {
        if (level && !std::isfinite(*level)) {
            return setError(error, "gain, noise, floating, dc, hum_level and ghost_gain must be "
                                   "finite numbers");
        }
    }
    if (s.humHz != 0 && !isMainsFrequency(s.humHz)) {
        return setError(error, "hum must be 50 or 60 Hz, or off");
    }
    if (s.resetRequestAtSwitch < -1 || s.rateChangeAtSwitch < -1) {
        return setError(error, "reset_at and ratechange_at must be a switch number or off");
    }
    if (s.routing) {
        if (s.routing->size() > static_cast<std::size_t>(s.inputs)) {
            return setError(error, "route: input " + std::to_string(s.routing->size() - 1) +
                                       " does not exist (" + std::to_string(s.inputs) + " inputs)");
        }
        for (const int source : *s.routing) {
            if (source != kNoCable && (source < 0 || source >= s.outputs)) {
                return setError(error, "route: output " + std::to_string(source) +
                                           " does not exist (" + std::to_string(s.outputs) +
                                           " outputs)");
            }
        }
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
           "rates (accepted rates separated by '/', or none), rate (current rate), min, max, "
           "preferred and granularity (buffer sizes reported; granularity -1 means powers of "
           "two), delay (loop delay in samples; a fraction such as 100.25 is band-limited), gain "
           "(dB; inputs saturate at full scale), invert (polarity, 1 or 0), converter (on: a "
           "linear-phase low-pass at 0.45 x rate, its group delay part of the delay), noise (peak "
           "dBFS, or off) and seed, floating (on: inputs with no cable hear loud noise), dc "
           "(offset in dBFS, or off) and dc_polarity (+ or -), hum (50 or 60 Hz, or off) and "
           "hum_level (peak dBFS), ghost_gain (dB, or off) and ghost_delay (samples) for output k "
           "leaking into input k, route (input>output pairs such as 0>1:1>-, '-' for no cable, or "
           "default or none), cable=off (no cable at all), pace (realtime or freewheel), init "
           "(what init returns), createfail, startfail and stopfail (an error such as "
           "ASE_HWMalfunction, or off), reset_at and ratechange_at (switch numbers for a reset "
           "request and a rate change, or off), ratechange_to (the new rate), inlatency and "
           "outlatency (safety offsets in samples that getLatencies adds to the buffer size).";
}

SimSettings::Offsets SimSettings::reportedOffsets() const {
    const auto wholeDelay = static_cast<ASIOLong>(std::floor(loopDelay));
    const ASIOLong input = std::clamp<ASIOLong>(inputSafetyOffset, 0, wholeDelay);
    const ASIOLong output = std::clamp<ASIOLong>(outputSafetyOffset, 0, wholeDelay - input);
    return {input, output};
}

double SimSettings::unreportedDelay() const {
    const Offsets offsets = reportedOffsets();
    return loopDelay - offsets.input - offsets.output;
}
