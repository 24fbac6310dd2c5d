#pragma once
// The platform port without Windows: a registry tree held in memory, a table from class ids to
// object factories, and the machine's own file system for the existence test. Contract: keys
// and value names compare ignoring ASCII case, subkeys enumerate in the order they were added,
// values are text only; lowerCase changes ASCII letters only; classIdFromText accepts exactly
// "{8-4-4-4-12}" hex digits in either case; creating a class nobody registered, the all-zero id
// included, fails with kClassNotRegistered. Tests build the tree through MemoryKey and read the
// counters to check that every key opened is closed and that COM is started and ended in pairs.

#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// REGDB_E_CLASSNOTREG.
inline constexpr std::int32_t kClassNotRegistered = static_cast<std::int32_t>(0x80040154u);
// E_FAIL: a registered factory gave no object.
inline constexpr std::int32_t kCreationFailed = static_cast<std::int32_t>(0x80004005u);

struct MemoryNode;

// A key of the in-memory tree, for building it. Stays usable after the key is removed, but
// what it then builds is out of the tree.
class MemoryKey {
public:
    explicit MemoryKey(std::shared_ptr<MemoryNode> node);

    // The key at a backslash-separated path below this one; each step takes the first subkey of
    // that name or adds it. Empty steps are skipped.
    MemoryKey createKey(std::string_view path);
    // A new last subkey named by the path's last step, even when one of that name exists: a
    // lookup by name keeps finding the first.
    MemoryKey appendKey(std::string_view path);
    // Sets a text value; "" names the default value.
    MemoryKey& setValue(std::string_view name, std::string_view text);
    // Removes the first subkey at `path` with all below it; handles open on them then fail.
    bool removeKey(std::string_view path);
    // How often openKey has opened this very key.
    int timesOpened() const;

private:
    std::shared_ptr<MemoryNode> m_node;
};

class MemoryPlatform final : public Platform {
public:
    using Factory = std::function<IASIO*()>;

    MemoryPlatform();
    ~MemoryPlatform() override;
    MemoryPlatform(const MemoryPlatform&) = delete;
    MemoryPlatform& operator=(const MemoryPlatform&) = delete;

    MemoryKey localMachine();
    MemoryKey classesRoot();

    // createInstance of `classId` returns 0 and what `factory` made (one reference handed over),
    // or kCreationFailed when it made nothing.
    void registerClass(const ComGuid& classId, Factory factory);
    // createInstance of `classId` fails with `code`, which must not be 0.
    void failClass(const ComGuid& classId, std::int32_t code);

    int openKeyCount() const { return static_cast<int>(m_openKeys.size()); }
    int keysOpenedInTotal() const { return m_keysOpenedInTotal; }
    // closeKey calls with a handle that was not open (a double close, for instance).
    int invalidCloseCount() const { return m_invalidCloses; }
    int comInitializeCount() const { return m_comInitializes; }
    int comUninitializeCount() const { return m_comUninitializes; }
    int createInstanceCount() const { return m_createInstances; }

    Status openKey(RegKey parent, const char* path, RegKey* out) override;
    Status enumKey(RegKey key, std::uint32_t index, char* name, std::uint32_t size) override;
    Status queryValue(RegKey key, const char* valueName, char* data, std::uint32_t size) override;
    void closeKey(RegKey key) override;
    void lowerCase(char* text, std::uint32_t length) override;
    // std::filesystem's regular-file test, symbolic links followed.
    bool fileExists(const char* path) override;
    bool classIdFromText(const char* text, ComGuid* out) override;
    void comInitialize() override { ++m_comInitializes; }
    void comUninitialize() override { ++m_comUninitializes; }
    std::int32_t createInstance(const ComGuid& classId, IASIO** out) override;

private:
    struct ClassEntry {
        ComGuid classId;
        Factory factory;   // used when set
        std::int32_t code; // the failure otherwise
    };

    // The key behind an open handle or a root; null for anything else.
    std::shared_ptr<MemoryNode> nodeOf(RegKey key) const;
    void setClass(ClassEntry entry);

    std::shared_ptr<MemoryNode> m_localMachine;
    std::shared_ptr<MemoryNode> m_classesRoot;
    std::map<RegKey, std::shared_ptr<MemoryNode>> m_openKeys;
    RegKey m_nextHandle = 1;
    std::vector<ClassEntry> m_classes;
    int m_keysOpenedInTotal = 0;
    int m_invalidCloses = 0;
    int m_comInitializes = 0;
    int m_comUninitializes = 0;
    int m_createInstances = 0;
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hex: the form the registry holds.
std::string classIdText(const ComGuid& classId);

} // namespace platform
