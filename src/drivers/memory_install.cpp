#include "drivers/memory_install.h"

void installMemoryDriver(platform::MemoryPlatform& memory, const std::string& name,
                         const ComGuid& classId, platform::MemoryPlatform::Factory factory,
                         const std::string& serverPath) {
    const std::string classText = platform::classIdText(classId);
    memory.localMachine()
        .createKey("SOFTWARE\\ASIO\\" + name)
        .setValue("CLSID", classText)
        .setValue("Description", name);
    memory.classesRoot()
        .createKey("CLSID\\" + classText + "\\InprocServer32")
        .setValue("", serverPath)
        .setValue("ThreadingModel", "Both");
    memory.registerClass(classId, std::move(factory));
}
