#pragma once
// An in-memory machine for catalog tests: a registry, its class table of fake drivers, and real
// server files in a folder of their own. The memory platform is the current one while the
// fixture lives.

#include "catalog/driver_catalog.h"
#include "platform/memory/memory_platform.h"
#include "support/fake_driver.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

inline ComGuid classIdNumber(std::uint32_t n) {
    return {0x5A17E000u + n, 0x1234, static_cast<std::uint16_t>(n), {0xA0, 1, 2, 3, 4, 5, 6, 7}};
}

inline std::string lowered(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// Every name of the catalog, in index order, read with room for any name.
inline std::vector<std::string> namesOf(const DriverCatalog& catalog) {
    std::vector<std::string> names;
    for (int i = 0; i < catalog.GetCount(); ++i) {
        char name[128];
        EXPECT_EQ(catalog.CopyName(i, name, sizeof name), 0) << "index " << i;
        names.emplace_back(name);
    }
    return names;
}

// A folder of its own under the system's temporary folder, removed with all it holds.
class ScratchFolder {
public:
    ScratchFolder() {
        std::random_device seed;
        do {
            m_path = std::filesystem::temp_directory_path() /
                     ("tarvelo-catalog-" + std::to_string(seed()));
        } while (!std::filesystem::create_directory(m_path));
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string path(std::string_view name) const { return (m_path / name).string(); }
    std::string makeFile(std::string_view name) const {
        std::ofstream(m_path / name) << "server";
        return path(name);
    }
    // A path of exactly `length` characters to the file `name` here, padded with "./" steps.
    std::string paddedPath(std::string_view name, std::size_t length) const {
        std::string padded = m_path.string() + '/';
        while (padded.size() + name.size() + 2 <= length) {
            padded += "./";
        }
        return padded + (padded.size() + name.size() < length ? "/" : "") + std::string(name);
    }

private:
    std::filesystem::path m_path;
};

class CatalogFixture : public ::testing::Test {
public:
    platform::MemoryKey asioKey() { return registry.localMachine().createKey("software\\asio"); }
    platform::MemoryKey classKeys() { return registry.classesRoot().createKey("clsid"); }

    // A fake driver that creating `classId` hands out, with one reference for the caller.
    FakeDriver& registerFake(const ComGuid& classId) {
        FakeDriver& driver = drivers.emplace_back(classId);
        registry.registerClass(classId, [&driver] {
            driver.AddRef();
            return &driver;
        });
        return driver;
    }

    // A complete installation: driver subkey, class key with an existing server, fake object.
    FakeDriver& installDriver(std::string_view subkey, std::string_view description = {}) {
        const std::string classText = platform::classIdText(classIdNumber(++m_installed));
        auto key = asioKey().createKey(subkey).setValue("clsid", classText);
        if (!description.empty()) {
            key.setValue("description", description);
        }
        classKeys().createKey(classText).createKey("InprocServer32").setValue("", serverFile);
        return registerFake(classIdNumber(m_installed));
    }

    platform::MemoryPlatform registry;
    platform::ScopedPlatform installed{registry};
    ScratchFolder scratch;
    const std::string serverFile = scratch.makeFile("driver.dll");
    std::deque<FakeDriver> drivers;

private:
    std::uint32_t m_installed = 0;
};
