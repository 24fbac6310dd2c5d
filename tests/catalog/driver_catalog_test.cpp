#include "catalog/catalog_fixture.h"

#include <gmock/gmock.h>

#include <memory>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

using DriverCatalogScan = CatalogFixture;

TEST_F(DriverCatalogScan, WithoutTheAsioKeyIsEmptyAndLeavesComAlone) {
    registerServer(platform::classIdText(classIdNumber(1)), serverFile);
    {
        DriverCatalog catalog;
        EXPECT_EQ(catalog.GetCount(), 0);
        EXPECT_EQ(registry.comInitializeCount(), 0);
    }
    EXPECT_EQ(registry.comUninitializeCount(), 0);
    EXPECT_EQ(registry.openKeyCount(), 0);
}

TEST_F(DriverCatalogScan, AnAsioKeyWithNothingInstalledIsEmptyAndLeavesComAlone) {
    asioKey().createKey("Broken").setValue("description", "no class");
    {
        DriverCatalog catalog;
        EXPECT_EQ(catalog.GetCount(), 0);
    }
    EXPECT_EQ(registry.comInitializeCount(), 0);
    EXPECT_EQ(registry.comUninitializeCount(), 0);
    expectKeysBalanced();
}

TEST_F(DriverCatalogScan, ListsDriversInRegistryOrderAndStartsComOnce) {
    installDriver("Zeta", "Zeta Audio");
    installDriver("Alpha", "Alpha Audio");
    {
        DriverCatalog catalog;
        EXPECT_THAT(namesOf(catalog), ElementsAre("Zeta Audio", "Alpha Audio"));
        EXPECT_EQ(registry.comInitializeCount(), 1);
        EXPECT_EQ(registry.comUninitializeCount(), 0);
    }
    EXPECT_EQ(registry.comUninitializeCount(), 1);
    expectKeysBalanced();
}

TEST_F(DriverCatalogScan, SubkeysThatYieldNoEntryTakeNoIndex) {
    installDriver("First", "First");
    asioKey().createKey("NoClass").setValue("description", "never listed");
    installDriver("Third", "Third");
    DriverCatalog catalog;
    EXPECT_THAT(namesOf(catalog), ElementsAre("First", "Third"));
    char name[64];
    EXPECT_EQ(catalog.CopyName(2, name, sizeof name), CATALOG_NOT_FOUND);
    expectKeysBalanced();
}

TEST_F(DriverCatalogScan, ClassKeysMatchWhateverTheCaseOnEitherSide) {
    const ComGuid upperText = classIdNumber(0xABC);
    const ComGuid lowerText = classIdNumber(0xDEF);
    asioKey().createKey("Upper").setValue("clsid", platform::classIdText(upperText));
    registerServer(lowered(platform::classIdText(upperText)), serverFile);
    asioKey().createKey("Lower").setValue("clsid", lowered(platform::classIdText(lowerText)));
    registerServer(platform::classIdText(lowerText), serverFile);
    registerFake(upperText);
    registerFake(lowerText);

    DriverCatalog catalog;
    ASSERT_EQ(catalog.GetCount(), 2);
    const FakeDriver* first = driverAt(catalog, 0);
    const FakeDriver* second = driverAt(catalog, 1);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(platform::classIdText(first->classId), platform::classIdText(upperText));
    EXPECT_EQ(platform::classIdText(second->classId), platform::classIdText(lowerText));
}

TEST_F(DriverCatalogScan, WithoutDescriptionTheSubkeyNameIsListed) {
    installDriver("Plain Subkey Name");
    DriverCatalog catalog;
    EXPECT_THAT(namesOf(catalog), ElementsAre("Plain Subkey Name"));
}

TEST_F(DriverCatalogScan, DescriptionsAreCutTo127Characters) {
    const std::string fits(127, 'a');
    const std::string cut(128, 'b');
    const std::string longest(255, 'c');
    installDriver("Fits", fits);
    installDriver("Cut", cut);
    installDriver("Longest", longest);
    installDriver("Unreadable", std::string(256, 'd'));
    DriverCatalog catalog;
    EXPECT_THAT(namesOf(catalog),
                ElementsAre(fits, std::string(127, 'b'), std::string(127, 'c'), "Unreadable"));
}

TEST_F(DriverCatalogScan, AClassTextThatDoesNotConvertIsListedWithTheZeroClassId) {
    const std::string tooLong = "{" + std::string(98, '0') + "}";
    for (const std::string& text : {std::string("Not-A-Class-Id"), tooLong}) {
        asioKey().createKey(text.substr(0, 20)).setValue("clsid", text);
        registerServer(text, serverFile);
    }
    DriverCatalog catalog;
    ASSERT_EQ(catalog.GetCount(), 2);
    IASIO* driver = nullptr;
    EXPECT_EQ(catalog.OpenDriver(0, &driver), platform::kClassNotRegistered);
    EXPECT_EQ(driver, nullptr);

    // Whatever creating the zero class id gives is what opening such an entry gives.
    const std::int32_t zeroIdResult = static_cast<std::int32_t>(0x80070005u);
    registry.failClass(ComGuid{}, zeroIdResult);
    EXPECT_EQ(catalog.OpenDriver(0, &driver), zeroIdResult);
    EXPECT_EQ(catalog.OpenDriver(1, &driver), zeroIdResult);
}

TEST_F(DriverCatalogScan, TheServerDecidesWhetherADriverIsListed) {
    const auto install = [this](std::string_view subkey, std::uint32_t n, auto&& withClassKey) {
        const std::string text = platform::classIdText(classIdNumber(n));
        asioKey().createKey(subkey).setValue("clsid", text);
        withClassKey(classKeys().createKey(text));
    };
    install("MissingFile", 1, [this](platform::MemoryKey key) {
        key.createKey("InprocServer32").setValue("", scratch.missing("gone.dll"));
    });
    install("Folder", 2, [this](platform::MemoryKey key) {
        key.createKey("InprocServer32").setValue("", scratch.folder());
    });
    install("NoServerKey", 3, [](platform::MemoryKey key) { key.setValue("", "a class"); });
    install("NoPath", 4, [](platform::MemoryKey key) { key.createKey("InprocServer32"); });
    install("PathTooLong", 5, [this](platform::MemoryKey key) {
        key.createKey("InprocServer32").setValue("", scratch.paddedPath("driver.dll", 512));
    });
    install("LongestPath", 6, [this](platform::MemoryKey key) {
        key.createKey("InprocServer32").setValue("", scratch.paddedPath("driver.dll", 511));
    });
    install("Present", 7, [this](platform::MemoryKey key) {
        key.createKey("InprocServer32").setValue("", serverFile);
    });
    asioKey().createKey("Unregistered").setValue("clsid", platform::classIdText(classIdNumber(8)));

    DriverCatalog catalog;
    EXPECT_THAT(namesOf(catalog), ElementsAre("LongestPath", "Present"));
    expectKeysBalanced();
}

TEST_F(DriverCatalogScan, AClassTextTooLongToReadMakesNoEntry) {
    const std::string text(256, 'x');
    asioKey().createKey("Long").setValue("clsid", text);
    registerServer(text, serverFile);
    DriverCatalog catalog;
    EXPECT_EQ(catalog.GetCount(), 0);
}

TEST_F(DriverCatalogScan, ASubkeyNameTooLongToReadEndsTheScan) {
    installDriver("Before");
    installDriver(std::string(127, 'n'));
    installDriver(std::string(128, 'm'));
    installDriver("After");
    DriverCatalog catalog;
    EXPECT_THAT(namesOf(catalog), ElementsAre("Before", std::string(127, 'n')));
}

TEST_F(DriverCatalogScan, TheFirstClassKeyOfEqualNameDecides) {
    const ComGuid missingFirst = classIdNumber(1);
    const ComGuid presentFirst = classIdNumber(2);
    for (const ComGuid& id : {missingFirst, presentFirst}) {
        asioKey().createKey(platform::classIdText(id)).setValue("clsid", platform::classIdText(id));
        registerFake(id);
    }
    const std::string missing = scratch.missing("gone.dll");
    auto first = classKeys().appendKey(platform::classIdText(missingFirst));
    first.createKey("InprocServer32").setValue("", missing);
    auto second = classKeys().appendKey(platform::classIdText(presentFirst));
    second.createKey("InprocServer32").setValue("", serverFile);
    // Later keys of the same names, in the other case, that say the opposite.
    classKeys()
        .appendKey(lowered(platform::classIdText(missingFirst)))
        .createKey("InprocServer32")
        .setValue("", serverFile);
    classKeys()
        .appendKey(lowered(platform::classIdText(presentFirst)))
        .createKey("InprocServer32")
        .setValue("", missing);

    DriverCatalog catalog;
    ASSERT_EQ(catalog.GetCount(), 1);
    const FakeDriver* listed = driverAt(catalog, 0);
    ASSERT_NE(listed, nullptr);
    EXPECT_EQ(platform::classIdText(listed->classId), platform::classIdText(presentFirst));
    // A scan that went on after a failed match would have opened the first key again.
    EXPECT_EQ(first.timesOpened(), 1);
    EXPECT_EQ(second.timesOpened(), 1);
    expectKeysBalanced();
}

using DriverCatalogOpen = CatalogFixture;

TEST_F(DriverCatalogOpen, ANullOutIsABadArgumentWhateverTheIndex) {
    FakeDriver& driver = installDriver("Only");
    DriverCatalog catalog;
    for (int index : {0, 1, -1, 1000}) {
        EXPECT_EQ(catalog.OpenDriver(index, nullptr), CATALOG_BAD_ARGUMENT) << index;
    }
    EXPECT_EQ(registry.createInstanceCount(), 0);
    EXPECT_EQ(driver.references, 0);
}

TEST_F(DriverCatalogOpen, AnIndexWithoutEntryIsNotFound) {
    installDriver("Only");
    DriverCatalog catalog;
    for (int index : {1, -1, 42}) {
        IASIO* driver = nullptr;
        EXPECT_EQ(catalog.OpenDriver(index, &driver), CATALOG_NOT_FOUND) << index;
        EXPECT_EQ(driver, nullptr);
    }
    EXPECT_EQ(registry.createInstanceCount(), 0);
}

TEST_F(DriverCatalogOpen, OpensOnceUntilClosed) {
    FakeDriver& fake = installDriver("Only");
    DriverCatalog catalog;
    IASIO* driver = nullptr;
    ASSERT_EQ(catalog.OpenDriver(0, &driver), 0);
    EXPECT_EQ(driver, &fake);
    EXPECT_EQ(fake.references, 1);

    IASIO* again = nullptr;
    EXPECT_EQ(catalog.OpenDriver(0, &again), CATALOG_ALREADY_OPEN);
    EXPECT_EQ(again, nullptr);
    EXPECT_EQ(registry.createInstanceCount(), 1);

    EXPECT_EQ(catalog.CloseDriver(0), 0);
    EXPECT_EQ(fake.references, 0);
    EXPECT_EQ(fake.releases, 1);
    EXPECT_EQ(catalog.OpenDriver(0, &again), 0);
    EXPECT_EQ(again, &fake);
    EXPECT_EQ(fake.references, 1);
}

TEST_F(DriverCatalogOpen, ACreationFailureIsPassedOnAndLeavesTheEntryClosed) {
    installDriver("Only");
    const std::int32_t noMemory = static_cast<std::int32_t>(0x8007000Eu);
    registry.failClass(classIdNumber(1), noMemory);
    DriverCatalog catalog;
    IASIO* driver = nullptr;
    EXPECT_EQ(catalog.OpenDriver(0, &driver), noMemory);
    EXPECT_EQ(driver, nullptr);
    EXPECT_EQ(catalog.OpenDriver(0, &driver), noMemory);
    EXPECT_EQ(registry.createInstanceCount(), 2);
}

TEST_F(DriverCatalogOpen, ClosingAnIndexWithoutOpenDriverChangesNothing) {
    FakeDriver& first = installDriver("First");
    FakeDriver& second = installDriver("Second");
    DriverCatalog catalog;
    IASIO* driver = nullptr;
    ASSERT_EQ(catalog.OpenDriver(0, &driver), 0);

    for (int index : {1, 2, -1}) {
        EXPECT_EQ(catalog.CloseDriver(index), 0) << index;
    }
    EXPECT_EQ(first.releases, 0);
    EXPECT_EQ(second.releases, 0);
    EXPECT_EQ(catalog.OpenDriver(0, &driver), CATALOG_ALREADY_OPEN);

    EXPECT_EQ(catalog.CloseDriver(0), 0);
    EXPECT_EQ(catalog.CloseDriver(0), 0);
    EXPECT_EQ(first.releases, 1);
    EXPECT_EQ(first.references, 0);
}

TEST_F(DriverCatalogOpen, DestructionReleasesOpenDriversTailFirstThenEndsCom) {
    std::vector<std::string> events;
    for (const char* name : {"A", "B", "C"}) {
        FakeDriver& fake = installDriver(name);
        fake.onRelease = [this, &events, name] {
            events.push_back(std::string(name) + (registry.comUninitializeCount() == 0
                                                      ? " released, COM running"
                                                      : " released after COM ended"));
        };
    }
    auto catalog = std::make_unique<DriverCatalog>();
    IASIO* driver = nullptr;
    ASSERT_EQ(catalog->OpenDriver(0, &driver), 0);
    ASSERT_EQ(catalog->OpenDriver(2, &driver), 0);
    catalog.reset();
    EXPECT_THAT(events, ElementsAre("C released, COM running", "A released, COM running"));
    EXPECT_EQ(registry.comUninitializeCount(), 1);
    for (const FakeDriver& fake : drivers) {
        EXPECT_EQ(fake.references, 0);
    }
}

TEST_F(DriverCatalogOpen, DestructionUsesThePlatformTheCatalogWasMadeWith) {
    platform::MemoryPlatform other;
    std::unique_ptr<DriverCatalog> catalog;
    {
        const platform::ScopedPlatform scoped(other);
        const ComGuid classId = classIdNumber(9);
        const std::string text = platform::classIdText(classId);
        other.localMachine().createKey("software\\asio\\Other").setValue("clsid", text);
        other.classesRoot()
            .createKey("clsid\\" + text + "\\InprocServer32")
            .setValue("", serverFile);
        catalog = std::make_unique<DriverCatalog>();
    }
    ASSERT_EQ(catalog->GetCount(), 1);
    catalog.reset();
    EXPECT_EQ(other.comInitializeCount(), 1);
    EXPECT_EQ(other.comUninitializeCount(), 1);
    EXPECT_EQ(registry.comInitializeCount(), 0);
    EXPECT_EQ(registry.comUninitializeCount(), 0);
}

using DriverCatalogCopyName = CatalogFixture;

// A buffer with guard bytes after the `size` that CopyName is told about.
struct GuardedBuffer {
    static constexpr char kGuard = '#';
    char bytes[200];
    GuardedBuffer() { std::memset(bytes, kGuard, sizeof bytes); }
    bool untouchedFrom(unsigned from) const {
        for (unsigned i = from; i < sizeof bytes; ++i) {
            if (bytes[i] != kGuard) {
                return false;
            }
        }
        return true;
    }
};

TEST_F(DriverCatalogCopyName, NamesThatFitComeBackWholeOthersEndInDots) {
    installDriver("Short", "abc");
    installDriver("63", std::string(63, 'x'));
    installDriver("64", std::string(64, 'y'));
    installDriver("127", std::string(40, 'z') + std::string(87, 'w'));
    DriverCatalog catalog;

    struct Case {
        int index;
        unsigned size;
        std::string expected;
    };
    const Case cases[] = {
        {0, 64, "abc"},
        {0, 4, "abc"},
        {1, 64, std::string(63, 'x')},
        {1, 63, std::string(59, 'x') + "..."},
        {2, 64, std::string(60, 'y') + "..."},
        {2, 65, std::string(64, 'y')},
        {2, 4, "..."},
        {2, 5, "y..."},
        {3, 64, std::string(40, 'z') + std::string(20, 'w') + "..."},
        {3, 127, std::string(40, 'z') + std::string(83, 'w') + "..."},
        {3, 128, std::string(40, 'z') + std::string(87, 'w')},
    };
    for (const Case& c : cases) {
        GuardedBuffer buffer;
        ASSERT_EQ(catalog.CopyName(c.index, buffer.bytes, c.size), 0);
        EXPECT_EQ(std::string(buffer.bytes), c.expected) << c.index << " into " << c.size;
        EXPECT_TRUE(buffer.untouchedFrom(static_cast<unsigned>(c.expected.size()) + 1))
            << c.index << " into " << c.size;
    }
}

TEST_F(DriverCatalogCopyName, BadArgumentsAndMissingIndicesWriteNothing) {
    installDriver("Name");
    DriverCatalog catalog;
    EXPECT_EQ(catalog.CopyName(0, nullptr, 64), CATALOG_BAD_ARGUMENT);
    EXPECT_EQ(catalog.CopyName(7, nullptr, 64), CATALOG_BAD_ARGUMENT);
    for (unsigned size : {0u, 1u, 3u}) {
        GuardedBuffer buffer;
        EXPECT_EQ(catalog.CopyName(0, buffer.bytes, size), CATALOG_BAD_ARGUMENT) << size;
        EXPECT_TRUE(buffer.untouchedFrom(0)) << size;
    }
    for (int index : {1, -1}) {
        GuardedBuffer buffer;
        EXPECT_EQ(catalog.CopyName(index, buffer.bytes, 64), CATALOG_NOT_FOUND) << index;
        EXPECT_TRUE(buffer.untouchedFrom(0)) << index;
    }
}

TEST(DriverCatalogDefault, WithoutAnInstalledPlatformListsNothing) {
    const DriverCatalog catalog;
    EXPECT_EQ(catalog.GetCount(), 0);
    EXPECT_THAT(namesOf(catalog), IsEmpty());
}

} // namespace
