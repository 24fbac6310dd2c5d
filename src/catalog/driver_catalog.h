#pragma once
// The ASIO drivers installed on the machine, read once from the registry when the catalog is
// made and never again. Drivers are addressed by their position in registry order, from 0
// without gaps; the catalog creates and releases each one's COM object and owns the one
// reference of every open driver. Everything runs on the thread that made the catalog, which
// is where COM is started.

#include "asio/asio.h"
#include "platform/platform.h"

#include <cstdint>
#include <memory>

inline constexpr std::int32_t CATALOG_BAD_ARGUMENT = -5001;
inline constexpr std::int32_t CATALOG_ALREADY_OPEN = -5002;
inline constexpr std::int32_t CATALOG_NOT_FOUND = -5003;

struct ReleaseDriver {
    void operator()(IASIO* driver) const noexcept { driver->Release(); }
};

// One listed driver; a heap record owned by the catalog and zero-filled when made.
struct DriverEntry {
    std::int32_t index = 0;
    ComGuid classId{}; // all zero when the registry's class text did not convert
    char name[128]{};
    std::unique_ptr<IASIO, ReleaseDriver> driver; // set while the driver is open
    std::unique_ptr<DriverEntry> next;
};

class DriverCatalog {
public:
    // Scans the registry through the current platform, and starts COM if it listed a driver.
    DriverCatalog();
    // Releases every driver still open and ends COM if it was started.
    ~DriverCatalog();
    DriverCatalog(const DriverCatalog&) = delete;
    DriverCatalog& operator=(const DriverCatalog&) = delete;

    std::int32_t GetCount() const { return m_count; }
    // Creates the driver at `index` into `out`, 0 on success. The catalog keeps the reference;
    // the caller borrows the pointer and calls init itself. A creation failure code is
    // returned unchanged.
    std::int32_t OpenDriver(int index, IASIO** out);
    // Releases the driver at `index` if it is open. Always 0.
    std::int32_t CloseDriver(int index);
    // Copies the name at `index` into `buffer` of `size` bytes (at least 4), terminated; a name
    // that does not fit ends in "...".
    std::int32_t CopyName(int index, char* buffer, unsigned size) const;

private:
    // The first entry with this index; null when there is none.
    DriverEntry* find(int index) const;

    platform::Platform& m_platform;
    std::unique_ptr<DriverEntry> m_head;
    std::int32_t m_count = 0;
};
