#pragma once
// An in-memory machine for catalog tests: a registry, its class table of fake drivers, and real
// server files. The memory platform is the current one while the fixture lives.

#include "catalog/driver_catalog.h"
#include "catalog/scratch_folder.h"
#include "platform/memory/memory_platform.h"
#include "support/fake_driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

inline ComGuid classIdNumber(std::uint32_t n) {
    return {0x5A17E000u + n, 0x1234, static_cast<std::uint16_t>(n), {0xA0, 1, 2, 3, 4, 5, 6, 7}};
}

inline std::string lowered(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// Every name of the catalog, in index order, read through CopyName with room for any name.
inline std::vector<std::string> namesOf(const DriverCatalog& catalog) {
    std::vector<std::string> names;
    for (int i = 0; i < catalog.GetCount(); ++i) {
        char name[128];
        EXPECT_EQ(catalog.CopyName(i, name, sizeof name), 0) << "index " << i;
        names.emplace_back(name);
    }
    return names;
}

class CatalogFixture : public ::testing::Test {
protected:
    platform::MemoryKey asioKey() { return registry.localMachine().createKey("software\\asio"); }
    platform::MemoryKey classKeys() { return registry.classesRoot().createKey("clsid"); }

    void registerServer(std::string_view classKeyName, std::string_view path) {
        classKeys().createKey(classKeyName).createKey("InprocServer32").setValue("", path);
    }

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
        const ComGuid classId = classIdNumber(++m_installed);
        auto key = asioKey().createKey(subkey).setValue("clsid", platform::classIdText(classId));
        if (!description.empty()) {
            key.setValue("description", description);
        }
        registerServer(platform::classIdText(classId), serverFile);
        return registerFake(classId);
    }

    // The driver that OpenDriver(index) creates, closed again; null if it cannot be opened.
    static FakeDriver* driverAt(DriverCatalog& catalog, int index) {
        IASIO* driver = nullptr;
        if (catalog.OpenDriver(index, &driver) != 0) {
            return nullptr;
        }
        catalog.CloseDriver(index);
        return static_cast<FakeDriver*>(driver);
    }

    void expectKeysBalanced() const {
        EXPECT_GT(registry.keysOpenedInTotal(), 0);
        EXPECT_EQ(registry.openKeyCount(), 0);
        EXPECT_EQ(registry.invalidCloseCount(), 0);
    }

    platform::MemoryPlatform registry;
    platform::ScopedPlatform installed{registry};
    ScratchFolder scratch;
    const std::string serverFile = scratch.makeFile("driver.dll");
    std::deque<FakeDriver> drivers;

private:
    std::uint32_t m_installed = 0;
};
