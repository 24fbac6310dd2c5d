#include "catalog/driver_catalog.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

namespace {

using platform::Platform;
using platform::RegKey;

constexpr std::size_t kSubkeyNameSize = 128;
constexpr std::size_t kValueSize = 256;
constexpr std::size_t kClassKeyNameSize = 512;
constexpr std::size_t kServerPathSize = 512;

// A registry key open for reading, closed again when this goes.
class ScopedKey {
public:
    ScopedKey(Platform& platform, RegKey parent, const char* path)
        : m_platform(platform) {
        RegKey opened = 0;
        if (platform.openKey(parent, path, &opened) == platform::kOk) {
            m_key = opened;
        }
    }
    ~ScopedKey() {
        if (m_key != 0) {
            m_platform.closeKey(m_key);
        }
    }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;

    bool isOpen() const { return m_key != 0; }
    RegKey get() const { return m_key; }

private:
    Platform& m_platform;
    RegKey m_key = 0;
};

// The two reads below end the buffer with a terminator whatever the backend did, so that no
// later step reads past it.
template <std::size_t N>
bool readSubkeyName(Platform& platform, RegKey key, std::uint32_t index, char (&name)[N]) {
    if (platform.enumKey(key, index, name, N) != platform::kOk) {
        return false;
    }
    name[N - 1] = '\0';
    return true;
}

template <std::size_t N>
bool readValue(Platform& platform, RegKey key, const char* valueName, char (&text)[N]) {
    if (platform.queryValue(key, valueName, text, N) != platform::kOk) {
        return false;
    }
    text[N - 1] = '\0';
    return true;
}

void lowerCase(Platform& platform, char* text) {
    platform.lowerCase(text, static_cast<std::uint32_t>(std::strlen(text)));
}

// As much of `text` as fits `out`, terminated.
template <std::size_t N>
void copyCut(char (&out)[N], std::string_view text) {
    const std::size_t length = std::min(text.size(), N - 1);
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
}

// Whether the class named by `classText` is registered with an existing server file. The first
// class key whose name equals the text, ignoring case, decides; `classText` is left lower-cased.
bool serverFileExists(Platform& platform, char (&classText)[kValueSize]) {
    lowerCase(platform, classText);
    const ScopedKey classes(platform, platform::kClassesRoot, "clsid");
    if (!classes.isOpen()) {
        return false;
    }
    char className[kClassKeyNameSize];
    for (std::uint32_t i = 0; readSubkeyName(platform, classes.get(), i, className); ++i) {
        lowerCase(platform, className);
        if (std::strcmp(className, classText) != 0) {
            continue;
        }
        const ScopedKey classKey(platform, classes.get(), className);
        if (!classKey.isOpen()) {
            return false;
        }
        const ScopedKey server(platform, classKey.get(), "InprocServer32");
        char path[kServerPathSize];
        return server.isOpen() && readValue(platform, server.get(), "", path) &&
               platform.fileExists(path);
    }
    return false;
}

// The entry for one driver subkey, or null when the subkey does not name an installed driver.
std::unique_ptr<DriverEntry> readEntry(Platform& platform, RegKey asioKey, const char* subkeyName,
                                       std::int32_t index) {
    const ScopedKey driverKey(platform, asioKey, subkeyName);
    if (!driverKey.isOpen()) {
        return nullptr;
    }
    char classText[kValueSize];
    if (!readValue(platform, driverKey.get(), "clsid", classText) ||
        !serverFileExists(platform, classText)) {
        return nullptr;
    }
    std::unique_ptr<DriverEntry> entry(new (std::nothrow) DriverEntry());
    if (!entry) {
        return nullptr;
    }
    entry->index = index;
    // A text that does not convert leaves the class id zero; the driver is listed all the same.
    platform.classIdFromText(classText, &entry->classId);
    char description[kValueSize];
    copyCut(entry->name, readValue(platform, driverKey.get(), "description", description)
                             ? description
                             : subkeyName);
    return entry;
}

// Appends an entry for every installed driver, in registry order; returns how many.
std::int32_t listDrivers(Platform& platform, std::unique_ptr<DriverEntry>& head) {
    const ScopedKey asio(platform, platform::kLocalMachine, "software\\asio");
    if (!asio.isOpen()) {
        return 0;
    }
    std::int32_t count = 0;
    std::unique_ptr<DriverEntry>* tail = &head;
    char subkeyName[kSubkeyNameSize];
    for (std::uint32_t i = 0; readSubkeyName(platform, asio.get(), i, subkeyName); ++i) {
        if (auto entry = readEntry(platform, asio.get(), subkeyName, count)) {
            *tail = std::move(entry);
            tail = &(*tail)->next;
            ++count;
        }
    }
    return count;
}

} // namespace

DriverCatalog::DriverCatalog()
    : m_platform(platform::currentPlatform()) {
    m_count = listDrivers(m_platform, m_head);
    if (m_count != 0) {
        m_platform.comInitialize();
    }
}

DriverCatalog::~DriverCatalog() {
    if (m_count == 0) {
        return;
    }
    // Tail to head, without recursion however long the chain: reverse it, then free it from
    // its new head. Each record releases its open driver as it goes, before COM ends.
    std::unique_ptr<DriverEntry> reversed;
    while (m_head) {
        auto rest = std::move(m_head->next);
        m_head->next = std::move(reversed);
        reversed = std::move(m_head);
        m_head = std::move(rest);
    }
    while (reversed) {
        reversed = std::move(reversed->next);
    }
    m_platform.comUninitialize();
}

std::int32_t DriverCatalog::OpenDriver(int index, IASIO** out) {
    if (out == nullptr) {
        return CATALOG_BAD_ARGUMENT;
    }
    DriverEntry* entry = find(index);
    if (entry == nullptr) {
        return CATALOG_NOT_FOUND;
    }
    if (entry->driver) {
        return CATALOG_ALREADY_OPEN;
    }
    const std::int32_t result = m_platform.createInstance(entry->classId, out);
    if (result != 0) {
        return result;
    }
    entry->driver.reset(*out);
    return 0;
}

std::int32_t DriverCatalog::CloseDriver(int index) {
    if (DriverEntry* entry = find(index)) {
        entry->driver.reset();
    }
    return 0;
}

std::int32_t DriverCatalog::CopyName(int index, char* buffer, unsigned size) const {
    static constexpr char kEllipsis[] = "...";
    if (buffer == nullptr || size < sizeof kEllipsis) {
        return CATALOG_BAD_ARGUMENT;
    }
    const DriverEntry* entry = find(index);
    if (entry == nullptr) {
        return CATALOG_NOT_FOUND;
    }
    const std::size_t length = std::strlen(entry->name);
    if (length < size) {
        std::memcpy(buffer, entry->name, length + 1);
    } else {
        const std::size_t kept = size - sizeof kEllipsis;
        std::memcpy(buffer, entry->name, kept);
        std::memcpy(buffer + kept, kEllipsis, sizeof kEllipsis);
    }
    return 0;
}

DriverEntry* DriverCatalog::find(int index) const {
    for (DriverEntry* entry = m_head.get(); entry != nullptr; entry = entry->next.get()) {
        if (entry->index == index) {
            return entry;
        }
    }
    return nullptr;
}
