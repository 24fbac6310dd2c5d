#include "drivers/sim/install_memory.h"

void installLoopbackSimulator(platform::MemoryPlatform& memory,
                              std::function<SimSettings()> settingsSource,
                              const std::string& serverPath) {
    memory.localMachine()
        .createKey(std::string("SOFTWARE\\ASIO\\") + kLoopbackSimName)
        .setValue("CLSID", kLoopbackSimClassIdText)
        .setValue("Description", kLoopbackSimName);
    memory.classesRoot()
        .createKey(std::string("CLSID\\") + kLoopbackSimClassIdText + "\\InprocServer32")
        .setValue("", serverPath)
        .setValue("ThreadingModel", "Both");
    memory.registerClass(kLoopbackSimClassId, [source = std::move(settingsSource)] {
        return createLoopbackSimulator(source());
    });
}
