// The in-process COM server of the installed simulator: its class factory, the four functions
// that Windows calls by name (exported through tarvelo_sim.def) and the DLL's entry point.

#include "drivers/sim/win32/installed_sim_driver.h"
#include "drivers/sim/win32/module_lock.h"
#include "drivers/sim/win32/sim_registry.h"

#include <windows.h>

#include <objbase.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

// The linker's symbol at the start of this DLL's image: its module handle.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

std::atomic<long> moduleUsers{0};
std::atomic<bool> crashOnUnload{false};

bool sameId(const GUID& a, const void* b) {
    return std::memcmp(&a, b, sizeof a) == 0;
}

// One factory for the process. Its references count as module users, as COM expects of a
// factory that a client may hold on to between creations. COM objects are released, never
// deleted through their interface, so the base has no virtual destructor.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class SimClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        lockModule();
        return 2; // static: the count is the module's, not the object's
    }
    ULONG STDMETHODCALLTYPE Release() override {
        unlockModule();
        return 1;
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        InstalledSimDriver* driver = InstalledSimDriver::create();
        if (driver == nullptr) {
            return E_OUTOFMEMORY;
        }
        ComGuid requested;
        std::memcpy(&requested, &iid, sizeof requested);
        const HRESULT result = driver->QueryInterface(requested, object);
        driver->Release(); // the caller's reference is the one QueryInterface added
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            lockModule();
        } else {
            unlockModule();
        }
        return S_OK;
    }
};
#pragma GCC diagnostic pop

SimClassFactory classFactory;

// This DLL's full path, however long.
std::wstring modulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase),
                                                path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

} // namespace

void lockModule() {
    moduleUsers.fetch_add(1);
}

void unlockModule() {
    moduleUsers.fetch_sub(1);
}

bool isModuleInUse() {
    return moduleUsers.load() != 0;
}

void crashWhenUnloaded() {
    crashOnUnload.store(true);
}

// Windows calls this as it loads and unloads the DLL, process exit included.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH && crashOnUnload.load()) {
        std::abort();
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, LPVOID* object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (!sameId(classId, &kLoopbackSimClassId)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return classFactory.QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow() {
    return isModuleInUse() ? S_FALSE : S_OK;
}

STDAPI DllRegisterServer() {
    const std::wstring path = modulePath();
    if (path.empty()) {
        return E_FAIL;
    }
    return HRESULT_FROM_WIN32(registerSimServer(path));
}

STDAPI DllUnregisterServer() {
    return HRESULT_FROM_WIN32(unregisterSimServer());
}
