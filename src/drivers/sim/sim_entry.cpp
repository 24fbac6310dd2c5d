#include "drivers/sim/sim_entry.h"

#include "drivers/sim/loopback_sim.h"

kit::DriverEntry loopbackSimulatorEntry() {
    using Kind = kit::DriverOption::Kind;
    return {kLoopbackSimName,
            kLoopbackSimClassId,
            {
                {.name = "--sim",
                 .valueName = "SETTINGS",
                 .description = "Settings of the built-in loopback simulator, "
                                "key=value[,key=value...]; --sim-help lists them"},
                {.name = "--sim-help",
                 .kind = Kind::Help,
                 .description = "Describe the simulator's settings and exit",
                 .help = [] { return std::string(simSettingsHelp()); }},
            },
            [](const kit::OptionValues& values, std::string& error) {
                SimSettings settings;
                const auto text = values.find("--sim");
                if (text != values.end() &&
                    !parseSimSettings(text->second.front(), settings, &error)) {
                    error = "bad simulator settings: " + error;
                    return kit::DriverSetup{};
                }
                return kit::DriverSetup{
                    .create = [settings]() -> IASIO* { return createLoopbackSimulator(settings); }};
            }};
}
