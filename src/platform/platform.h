#pragma once
// The platform port of the driver catalog: read-only registry access, text lower-casing, the
// file-existence test, class text to class id, and COM start, end and object creation.
//
// Contract. The catalog is the only caller and it runs on one thread. Every operation reports
// failure by its result and never throws; a backend only translates the call to its platform
// and must never read or write outside the buffers it is given (sizes are in bytes, terminator
// included). Backends: win32/ (the real registry and COM) and memory/ (an in-memory registry
// tree and a class-id-to-factory table, for Linux and tests).

#include "asio/asio.h"

#include <cstdint>

namespace platform {

// An open registry key. 0 is never a valid key.
using RegKey = std::uintptr_t;

// The two roots the catalog starts from.
inline constexpr RegKey kLocalMachine = 0x80000002u;
inline constexpr RegKey kClassesRoot = 0x80000000u;

// Success is 0, as for the registry calls it stands for; any other value is a failure.
using Status = std::int32_t;
inline constexpr Status kOk = 0;

class Platform {
public:
    virtual ~Platform() = default;

    // Opens `path` (backslash-separated, case-insensitive) below `parent` for reading. `out`
    // is meaningful only on success; every key opened is closed with closeKey.
    virtual Status openKey(RegKey parent, const char* path, RegKey* out) = 0;
    // Name of the subkey at `index` into `name` (at most `size` bytes with the terminator);
    // non-zero once there is none, or when the name does not fit.
    virtual Status enumKey(RegKey key, std::uint32_t index, char* name, std::uint32_t size) = 0;
    // Text value `valueName` (null or "" for the default value) into `data`, terminated; non-zero
    // when it is absent, is not text, or does not fit `size` bytes with its terminator.
    virtual Status queryValue(RegKey key, const char* valueName, char* data,
                              std::uint32_t size) = 0;
    // Closing one of the two roots does nothing.
    virtual void closeKey(RegKey key) = 0;

    // Lower-cases `length` bytes of `text` in place (the ANSI code page's rules).
    virtual void lowerCase(char* text, std::uint32_t length) = 0;
    // True when `path` names an existing file; a directory or a missing path is not one.
    virtual bool fileExists(const char* path) = 0;
    // Converts a class id written as "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"; false leaves
    // `out` untouched. A text of more than 99 characters never converts.
    virtual bool classIdFromText(const char* text, ComGuid* out) = 0;

    virtual void comInitialize() = 0;
    virtual void comUninitialize() = 0;
    // Creates the in-process object of `classId`, asking for the interface of the same id.
    // Returns 0 and one reference in `out`, or the creation's failure code with `out` null.
    virtual std::int32_t createInstance(const ComGuid& classId, IASIO** out) = 0;
};

// The platform the catalog uses: the Win32 backend on Windows, the memory backend elsewhere,
// or the one a ScopedPlatform installed.
Platform& currentPlatform();

#ifdef _WIN32
// The real registry and COM; defined by the win32 backend.
Platform& win32Platform();
#endif

// Installs `p` as the current platform for its lifetime (tests, tools). Not thread-safe: make
// and destroy it on the thread that builds catalogs.
class ScopedPlatform {
public:
    explicit ScopedPlatform(Platform& p);
    ~ScopedPlatform();
    ScopedPlatform(const ScopedPlatform&) = delete;
    ScopedPlatform& operator=(const ScopedPlatform&) = delete;

private:
    Platform* m_previous;
};

} // namespace platform
