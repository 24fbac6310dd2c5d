// The driver catalog over the in-memory registry: which drivers a scan lists and under which
// names, opening and closing them, and what it leaves behind.

#include "catalog/driver_catalog.h"
#include "platform/memory/memory_platform.h"
#include "support/fake_driver.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

ComGuid classIdNumber(std::uint32_t n) {
    return {0x5A17E000u + n, 0x1234, static_cast<std::uint16_t>(n), {0xA0, 1, 2, 3, 4, 5, 6, 7}};
}

std::string lowered(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// Every name of the catalog, in index order, read with room for any name.
std::vector<std::string> namesOf(const DriverCatalog& catalog) {
    std::vector<std::string> names;
    for (int i = 0; i < catalog.GetCount(); ++i) {
        char name[128];
        EXPECT_EQ(catalog.CopyName(i, name, sizeof name), 0) << "index " << i;
        names.emplace_back(name);
    }
    return names;
}

// An in-memory machine: a registry, its class table of fake drivers, and real server files.
// The memory platform is the current one while the fixture lives.
class Catalog : public ::testing::Test {
public:
    ~Catalog() override { std::filesystem::remove_all(folder); }

    platform::MemoryKey asioKey() { return registry.localMachine().createKey("software\\asio"); }
    platform::MemoryKey classKeys() { return registry.classesRoot().createKey("clsid"); }
    std::string text(std::uint32_t n) { return platform::classIdText(classIdNumber(n)); }
    std::string path(std::string_view name) const { return (folder / name).string(); }
    // A path of exactly `length` characters to the file `name` here, padded with "./" steps.
    std::string paddedPath(std::string_view name, std::size_t length) const {
        std::string padded = folder.string() + '/';
        while (padded.size() + name.size() + 2 <= length) {
            padded += "./";
        }
        return padded + (padded.size() + name.size() < length ? "/" : "") + std::string(name);
    }

    // A complete installation: driver subkey, class key with an existing server, and the fake
    // driver that creating the class hands out, with one reference for the caller.
    FakeDriver& installDriver(std::string_view subkey, std::string_view description = {}) {
        const std::string classText = text(++m_installed);
        auto key = asioKey().createKey(subkey).setValue("clsid", classText);
        if (!description.empty()) {
            key.setValue("description", description);
        }
        classKeys().createKey(classText).createKey("InprocServer32").setValue("", serverFile);
        FakeDriver& driver = drivers.emplace_back();
        registry.registerClass(classIdNumber(m_installed), [&driver] {
            driver.AddRef();
            return &driver;
        });
        return driver;
    }
    // A driver key naming `classText`, and a class key `classKey` with an InprocServer32 key
    // whose default value is `server` (none: no such key; empty: no value).
    void installAs(std::string_view subkey, const std::string& classText,
                   const std::string& classKey, std::optional<std::string> server) {
        asioKey().createKey(subkey).setValue("clsid", classText);
        auto key = classKeys().appendKey(classKey);
        if (server) {
            auto inproc = key.createKey("InprocServer32");
            if (!server->empty()) {
                inproc.setValue("", *server);
            }
        }
    }

    platform::MemoryPlatform registry;
    platform::ScopedPlatform installed{registry};
    std::deque<FakeDriver> drivers;
    // The test's own folder, removed with all it holds, and a server file in it.
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("tarvelo-catalog-" + std::to_string(::getpid()));
    const std::string serverFile = [this] {
        std::filesystem::create_directories(folder);
        std::ofstream(path("driver.dll")) << "server";
        return path("driver.dll");
    }();

private:
    std::uint32_t m_installed = 0;
};

struct Listing {
    const char* what;
    std::function<void(Catalog&)> install;
    std::vector<std::string> listed;
};

class CatalogScan : public Catalog, public ::testing::WithParamInterface<Listing> {};

TEST_P(CatalogScan, ListsExactlyTheInstalledDriversInRegistryOrderAndLeavesNothingOpen) {
    GetParam().install(*this);
    {
        const DriverCatalog catalog;
        EXPECT_EQ(namesOf(catalog), GetParam().listed);
        EXPECT_EQ(registry.comInitializeCount(), GetParam().listed.empty() ? 0 : 1);
        EXPECT_EQ(registry.openKeyCount(), 0);
    }
    EXPECT_EQ(registry.comUninitializeCount(), registry.comInitializeCount());
    EXPECT_EQ(registry.invalidCloseCount(), 0);
}

const std::string kName127 = std::string(40, 'n') + std::string(87, 'N');

INSTANTIATE_TEST_SUITE_P(
    Registries, CatalogScan,
    ::testing::Values(Listing{"NoAsioKey", [](Catalog&) {}, {}},
                      Listing{"KeysWithoutAClassTakeNoPosition",
                              [](Catalog& c) {
                                  c.installDriver("Zeta", "Zeta Audio");
                                  c.asioKey().createKey("NoClass").setValue("description",
                                                                            "never listed");
                                  c.installDriver("Alpha");
                              },
                              {"Zeta Audio", "Alpha"}},
                      Listing{"ClassIdsMatchWhateverTheCase",
                              [](Catalog& c) {
                                  c.installAs("Upper", c.text(1), lowered(c.text(1)), c.serverFile);
                                  c.installAs("Lower", lowered(c.text(2)), c.text(2), c.serverFile);
                              },
                              {"Upper", "Lower"}},
                      Listing{"DescriptionsAreCutTo127AndUnreadableOnesGiveTheKeyName",
                              [](Catalog& c) {
                                  c.installDriver("Fits", kName127);
                                  c.installDriver("Cut", kName127 + "x");
                                  c.installDriver("Longest", kName127 + std::string(128, 'y'));
                                  c.installDriver("Unreadable", std::string(256, 'z'));
                              },
                              {kName127, kName127, kName127, "Unreadable"}},
                      Listing{"OnlyAnExistingServerFileOfAReadablePathCounts",
                              [](Catalog& c) {
                                  c.installAs("Missing", c.text(1), c.text(1), c.path("gone.dll"));
                                  c.installAs("Folder", c.text(2), c.text(2), c.path(""));
                                  c.installAs("NoServerKey", c.text(3), c.text(3), std::nullopt);
                                  c.installAs("NoPath", c.text(4), c.text(4), "");
                                  c.installAs("TooLong", c.text(5), c.text(5),
                                              c.paddedPath("driver.dll", 512));
                                  c.installAs("Longest", c.text(6), c.text(6),
                                              c.paddedPath("driver.dll", 511));
                                  c.asioKey().createKey("NoClassKey").setValue("clsid", c.text(7));
                                  c.installAs("LongClassText", std::string(256, 'x'),
                                              std::string(256, 'x'), c.serverFile);
                              },
                              {"Longest"}},
                      Listing{"ASubkeyNameTooLongToReadEndsTheScan",
                              [](Catalog& c) {
                                  c.installDriver("Before");
                                  c.installDriver(kName127);
                                  c.installDriver(std::string(128, 'm'));
                                  c.installDriver("After");
                              },
                              {"Before", kName127}},
                      Listing{"TheFirstClassKeyOfEqualNameDecides",
                              [](Catalog& c) {
                                  const std::string gone = c.path("gone.dll");
                                  c.installAs("MissingFirst", c.text(1), c.text(1), gone);
                                  c.installAs("PresentFirst", c.text(2), c.text(2), c.serverFile);
                                  c.classKeys()
                                      .appendKey(lowered(c.text(1)))
                                      .createKey("InprocServer32")
                                      .setValue("", c.serverFile);
                                  c.classKeys()
                                      .appendKey(lowered(c.text(2)))
                                      .createKey("InprocServer32")
                                      .setValue("", gone);
                              },
                              {"PresentFirst"}}),
    [](const auto& listing) { return std::string(listing.param.what); });

TEST_F(Catalog, OpensEachListedDriverOnceUntilClosedAndPassesFailuresOn) {
    FakeDriver& first = installDriver("First");
    installDriver("Second");
    installAs("NotAClassId", "Not-A-Class-Id", "Not-A-Class-Id", serverFile);
    const auto noMemory = static_cast<std::int32_t>(0x8007000Eu);
    registry.failClass(classIdNumber(2), noMemory);
    DriverCatalog catalog;
    ASSERT_EQ(catalog.GetCount(), 3);
    IASIO* driver = nullptr;
    for (const int index : {0, 3, -1}) {
        EXPECT_EQ(catalog.OpenDriver(index, nullptr), CATALOG_BAD_ARGUMENT) << index;
    }
    for (const int index : {3, -1}) {
        EXPECT_EQ(catalog.OpenDriver(index, &driver), CATALOG_NOT_FOUND) << index;
    }
    EXPECT_EQ(registry.createInstanceCount(), 0);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(catalog.OpenDriver(0, &driver), 0);
        EXPECT_EQ(driver, &first);
        EXPECT_EQ(catalog.OpenDriver(0, &driver), CATALOG_ALREADY_OPEN);
        for (const int index : {1, 2, 3, -1}) {
            EXPECT_EQ(catalog.CloseDriver(index), 0); // none of them open: nothing to do
        }
        EXPECT_EQ(first.references, 1);
        EXPECT_EQ(catalog.CloseDriver(0), 0);
        EXPECT_EQ(first.references, 0);
    }
    EXPECT_EQ(catalog.OpenDriver(1, &driver), noMemory);
    EXPECT_EQ(catalog.OpenDriver(1, &driver), noMemory) << "left closed";
    // A class text that does not convert stands for the zero class id.
    EXPECT_EQ(catalog.OpenDriver(2, &driver), platform::kClassNotRegistered);
    registry.failClass(ComGuid{}, noMemory);
    EXPECT_EQ(catalog.OpenDriver(2, &driver), noMemory);
}

TEST_F(Catalog, GoingReleasesOpenDriversTailFirstThenEndsComOnItsOwnPlatform) {
    std::vector<std::string> events;
    for (const char* name : {"A", "B", "C"}) {
        installDriver(name).onRelease = [this, &events, name] {
            events.push_back(name + std::string(registry.comUninitializeCount() ? " late" : ""));
        };
    }
    auto catalog = std::make_unique<DriverCatalog>();
    IASIO* driver = nullptr;
    ASSERT_EQ(catalog->OpenDriver(0, &driver), 0);
    ASSERT_EQ(catalog->OpenDriver(2, &driver), 0);
    platform::MemoryPlatform other;
    const platform::ScopedPlatform elsewhere(other);
    catalog.reset();
    EXPECT_EQ(events, (std::vector<std::string>{"C", "A"}));
    EXPECT_EQ(registry.comUninitializeCount(), 1);
    EXPECT_EQ(other.comUninitializeCount(), 0);
}

TEST_F(Catalog, NamesThatDoNotFitEndInDotsAndNothingIsWrittenPastTheSize) {
    installDriver("63", std::string(63, 'x'));
    installDriver("127", kName127);
    const DriverCatalog catalog;
    const struct {
        int index;
        unsigned size;
        std::string expected; // empty: refused, nothing written
    } cases[] = {
        {0, 64, std::string(63, 'x')},
        {0, 63, std::string(59, 'x') + "..."},
        {0, 4, "..."},
        {0, 5, "x..."},
        {1, 128, kName127},
        {1, 127, kName127.substr(0, 123) + "..."},
        {0, 3, ""},
        {2, 64, ""},
        {-1, 64, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.index << " into " << c.size);
        std::string buffer(200, '#');
        EXPECT_EQ(catalog.CopyName(c.index, buffer.data(), c.size) == 0, !c.expected.empty());
        const std::size_t written = c.expected.empty() ? 0 : c.expected.size() + 1;
        EXPECT_EQ(buffer.substr(0, written), c.expected + (written ? std::string(1, '\0') : ""));
        EXPECT_EQ(buffer.find_first_not_of('#', written), std::string::npos);
    }
    EXPECT_EQ(catalog.CopyName(0, nullptr, 64), CATALOG_BAD_ARGUMENT);
}

} // namespace
