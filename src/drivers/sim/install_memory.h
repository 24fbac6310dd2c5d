#pragma once
// Installs the loopback simulator in an in-memory registry the way its Windows installer
// registers it: a driver key under HKLM\SOFTWARE\ASIO and its class under HKCR\CLSID, so the
// catalog lists it through its ordinary scan. Each instance the catalog creates takes the
// settings `settingsSource` gives at that moment.

#include "drivers/sim/loopback_sim.h"
#include "platform/memory/memory_platform.h"

#include <functional>
#include <string>

// `serverPath` must name an existing file, as the catalog checks that the server is there.
void installLoopbackSimulator(platform::MemoryPlatform& memory,
                              std::function<SimSettings()> settingsSource,
                              const std::string& serverPath);
