#include "drivers/jack/jack_entry.h"

#include "drivers/jack/jack_driver.h"
#include "drivers/jack/jack_setup.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string checkChannels(const std::string& value) {
    std::size_t end = 0;
    int channels = 0;
    try {
        channels = std::stoi(value, &end);
    } catch (const std::logic_error&) {
        end = 0;
    }
    return end == value.size() && channels >= 1 && channels <= kMaxJackChannels
               ? ""
               : "expected a whole number from 1 to " + std::to_string(kMaxJackChannels);
}

std::vector<std::string> valuesOf(const kit::OptionValues& values, const std::string& name) {
    const auto given = values.find(name);
    return given == values.end() ? std::vector<std::string>{} : given->second;
}

JackSettings settingsOf(const kit::OptionValues& values) {
    JackSettings settings;
    settings.inputSources = valuesOf(values, "--jack-in");
    settings.outputTargets = valuesOf(values, "--jack-out");
    const auto named =
        static_cast<int>(std::max(settings.inputSources.size(), settings.outputTargets.size()));
    const std::vector<std::string> channels = valuesOf(values, "--jack-channels");
    settings.inputs = channels.empty() ? std::max(2, named) : std::stoi(channels.front());
    settings.outputs = settings.inputs;
    if (const std::vector<std::string> name = valuesOf(values, "--jack-name"); !name.empty()) {
        settings.clientName = name.front();
    }
    settings.notice = [](const std::string& text) {
        std::fprintf(stderr, "[jack] %s\n", text.c_str());
    };
    return settings;
}

std::optional<kit::Unready> checkBeforeOpen(const JackSettings& settings) {
    const JackSetupCheck check = checkJackSetup(settings);
    switch (check.problem) {
    case JackSetupProblem::None:
        return std::nullopt;
    case JackSetupProblem::NoClient:
        return kit::Unready{kit::Unready::Cause::Unavailable, check.message};
    case JackSetupProblem::BadPort:
    case JackSetupProblem::NoPhysicalPort:
        break;
    }
    return kit::Unready{kit::Unready::Cause::BadInput,
                        check.message + " (name ports with --jack-in and --jack-out)"};
}

} // namespace

kit::DriverEntry jackDriverEntry() {
    using Kind = kit::DriverOption::Kind;
    return {
        kJackDriverName,
        kJackDriverClassId,
        {
            {.name = "--jack-in",
             .kind = Kind::Values,
             .valueName = "PORT",
             .description = "JACK driver: the port an input reads from, one per channel in order "
                            "(default: the first physical capture port)"},
            {.name = "--jack-out",
             .kind = Kind::Values,
             .valueName = "PORT",
             .description = "JACK driver: the port an output feeds, one per channel in order "
                            "(default: the first physical playback port)"},
            {.name = "--jack-channels",
             .valueName = "N",
             .description = "JACK driver: input and output ports each (default: 2, or as many "
                            "as named)",
             .check = checkChannels},
            {.name = "--jack-name",
             .valueName = "NAME",
             .description = "JACK driver: the client's name, which its ports carry (default: "
                            "tarvelo)",
             .check =
                 [](const std::string& name) { return name.empty() ? "a name is needed" : ""; }},
        },
        [](const kit::OptionValues& values, std::string&) {
            const JackSettings settings = settingsOf(values);
            return kit::DriverSetup{
                .create = [settings]() -> IASIO* { return createJackDriver(settings); },
                .checkBeforeOpen = [settings] { return checkBeforeOpen(settings); },
                .afterResult =
                    [](IASIO* instance) {
                        const auto* jack = dynamic_cast<const JackDriver*>(instance);
                        return jack == nullptr ? kit::DriverAccount{}
                                               : kit::DriverAccount{.xruns = jack->xrunCount(),
                                                                    .jackPorts = true};
                    }};
        }};
}
