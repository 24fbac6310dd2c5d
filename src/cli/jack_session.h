#pragma once
// tarvelo-cli's side of the JACK driver (Linux): the driver's settings from the options, its
// place in the driver list next to the simulator, the check made before the session opens it (a
// server runs, the named ports exist) and the xrun count printed with each result.

#include "cli/run.h"
#include "drivers/jack/jack_settings.h"
#include "platform/memory/memory_platform.h"

#include <string>

class JackSession {
public:
    explicit JackSession(const CliOptions& options);

    void install(platform::MemoryPlatform& registry, const std::string& serverPath) const;
    DriverHooks hooks() const;

private:
    int beforeOpen(const std::string& driverName) const;

    JackSettings m_settings;
    bool m_optionsGiven;
};
