#include "cli/jack_session.h"

#include "drivers/jack/jack_driver.h"
#include "drivers/jack/jack_setup.h"
#include "drivers/memory_install.h"

#include <algorithm>
#include <cstdio>

JackSession::JackSession(const SessionOptions& options)
    : m_optionsGiven(!options.jackInputs.empty() || !options.jackOutputs.empty() ||
                     options.jackChannels || options.jackName) {
    const int named =
        static_cast<int>(std::max(options.jackInputs.size(), options.jackOutputs.size()));
    const int channels = options.jackChannels.value_or(std::max(2, named));
    m_settings.clientName = options.jackName.value_or(m_settings.clientName);
    m_settings.inputs = channels;
    m_settings.outputs = channels;
    m_settings.inputSources = options.jackInputs;
    m_settings.outputTargets = options.jackOutputs;
    m_settings.notice = [](const std::string& text) {
        std::fprintf(stderr, "[jack] %s\n", text.c_str());
    };
}

void JackSession::install(platform::MemoryPlatform& registry, const std::string& serverPath) const {
    installMemoryDriver(
        registry, kJackDriverName, kJackDriverClassId,
        [settings = m_settings] { return createJackDriver(settings); }, serverPath);
}

DriverHooks JackSession::hooks() const {
    return {[this](const std::string& driverName) { return beforeOpen(driverName); },
            [](IASIO* driver) {
                if (const auto* jack = dynamic_cast<const JackDriver*>(driver)) {
                    std::printf("JACK xruns during the measurement: %llu\n",
                                static_cast<unsigned long long>(jack->xrunCount()));
                }
            }};
}

int JackSession::beforeOpen(const std::string& driverName) const {
    if (driverName != kJackDriverName) {
        if (m_optionsGiven) {
            std::fprintf(stderr, "tarvelo-cli: the --jack-... options apply to the JACK driver "
                                 "only\n");
            return kExitBadInput;
        }
        return 0;
    }
    const JackSetupCheck check = checkJackSetup(m_settings);
    switch (check.problem) {
    case JackSetupProblem::None:
        return 0;
    case JackSetupProblem::NoClient:
        std::fprintf(stderr, "tarvelo-cli: %s\n", check.message.c_str());
        return kExitNotMeasured;
    case JackSetupProblem::BadPort:
    case JackSetupProblem::NoPhysicalPort:
        std::fprintf(stderr, "tarvelo-cli: %s (name ports with --jack-in and --jack-out)\n",
                     check.message.c_str());
        return kExitBadInput;
    }
    return kExitBadInput;
}
