#pragma once
// The server's count of live objects, class factory references and locks: DllCanUnloadNow
// lets COM unload the DLL only while it is zero. Safe from any thread.

void lockModule();
void unlockModule();
bool isModuleInUse();

// From now on the DLL crashes while it is unloaded, as some drivers do, so that hosts can be
// tried against one.
void crashWhenUnloaded();

// Keeps the module in use for as long as the object that holds it lives.
class ModuleReference {
public:
    ModuleReference() { lockModule(); }
    ~ModuleReference() { unlockModule(); }
    ModuleReference(const ModuleReference&) = delete;
    ModuleReference& operator=(const ModuleReference&) = delete;
};
