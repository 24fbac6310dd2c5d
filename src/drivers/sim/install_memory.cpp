#include "drivers/sim/install_memory.h"

#include "drivers/memory_install.h"

void installLoopbackSimulator(platform::MemoryPlatform& memory,
                              std::function<SimSettings()> settingsSource,
                              const std::string& serverPath) {
    installMemoryDriver(
        memory, kLoopbackSimName, kLoopbackSimClassId,
        [source = std::move(settingsSource)] { return createLoopbackSimulator(source()); },
        serverPath);
}
