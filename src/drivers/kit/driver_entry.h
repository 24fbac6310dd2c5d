#pragma once
// What a driver of ours says about itself to the list of drivers (drivers/driver_list.h), which
// installs it and which tarvelo-cli reads: its name and class id, its command-line options as
// data (the program makes options of its own parser from them), and, once the options are
// known, how to make an instance, what to check before it is opened, and what to say after a
// result. A driver's folder defines its entry; the list names it.

#include "asio/asio.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kit {

struct DriverOption {
    enum class Kind {
        Value,  // given once, with a value: --sim SETTINGS
        Values, // given once per value, kept in order: --jack-in PORT --jack-in PORT
        Help,   // no value: print `help()` and end, as --help does: --sim-help
    };
    std::string name; // with its dashes
    Kind kind = Kind::Value;
    std::string valueName{}; // in the usage text: PORT, N
    std::string description{};
    // Why a value is refused ("" when it is taken); empty takes any value.
    std::function<std::string(const std::string& value)> check{};
    std::function<std::string()> help{}; // Help only
};

// The values given to a driver's options, by option name; an option not given has no key.
using OptionValues = std::map<std::string, std::vector<std::string>>;

// Why a driver cannot be opened now.
struct Unready {
    enum class Cause {
        BadInput,    // the options name what is not there
        Unavailable, // what it needs is not running or does not answer
    };
    Cause cause;
    std::string message;
};

// What a driver tells of a measurement it made, besides the measurement itself.
struct DriverAccount {
    // The JACK server's xruns during the measurement; none where the driver counts none.
    std::optional<std::uint64_t> xruns{};
    // Whether the latencies it reports are a JACK server's port latencies, which jackd's
    // systemic -I and -O extend.
    bool jackPorts = false;
};

// A driver made ready from its options.
struct DriverSetup {
    // A new instance holding one reference, or null.
    std::function<IASIO*()> create{};
    // Before the program opens the driver: nothing when it can go on. May be empty.
    std::function<std::optional<Unready>()> checkBeforeOpen{};
    // After a measurement, what the driver tells of the instance that made it. May be empty.
    std::function<DriverAccount(IASIO* instance)> afterResult{};
};

struct DriverEntry {
    std::string name; // the name the catalog lists
    ComGuid classId;
    std::vector<DriverOption> options;
    // The setup for the values given; `error` set (and the setup unused) when they are refused.
    // Values have passed their options' checks.
    std::function<DriverSetup(const OptionValues& values, std::string& error)> configure;
};

} // namespace kit
