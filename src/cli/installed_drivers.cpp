#include "cli/installed_drivers.h"

#include <cstdio>

#if defined(_WIN32)
#include <windows.h>

#include <objbase.h>
#else
#include "cli/driver_options.h"
#include "platform/memory/memory_platform.h"
#endif

int withInstalledDrivers([[maybe_unused]] const CliOptions& options,
                         const std::function<int(const DriverHooks&)>& run) {
#if defined(_WIN32)
    // A driver's DLL runs code of its own as it is unloaded: when COM frees it as the catalog
    // ends COM, and as the process exits. A driver that crashes there would replace the exit
    // code decided here. So this run holds COM open, which keeps the DLL loaded, and once the
    // session has released the driver and the results are flushed, the process ends with
    // TerminateProcess, which runs no DLL's unload code; ExitProcess would run all of it.
    CoInitialize(nullptr);
    const int code = run({});
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    return code;
#else
    ListedDrivers drivers;
    if (const std::optional<int> ended = drivers.setUp(options.driverOptions)) {
        return *ended;
    }
    platform::MemoryPlatform registry;
    drivers.install(registry, "/proc/self/exe");
    const platform::ScopedPlatform scoped(registry);
    return run(drivers.hooks());
#endif
}
