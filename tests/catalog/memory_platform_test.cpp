#include "catalog/scratch_folder.h"
#include "platform/memory/memory_platform.h"
#include "support/fake_driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using platform::kClassesRoot;
using platform::kLocalMachine;
using platform::kOk;
using platform::MemoryPlatform;
using platform::RegKey;

class MemoryRegistry : public ::testing::Test {
protected:
    // The subkey names of the key at `path` below HKEY_LOCAL_MACHINE, in enumeration order.
    std::vector<std::string> subkeysOf(const char* path) {
        std::vector<std::string> names;
        RegKey key = 0;
        if (platform.openKey(kLocalMachine, path, &key) != kOk) {
            ADD_FAILURE() << path << " does not open";
            return names;
        }
        char name[64];
        for (std::uint32_t i = 0; platform.enumKey(key, i, name, sizeof name) == kOk; ++i) {
            names.emplace_back(name);
        }
        platform.closeKey(key);
        return names;
    }

    MemoryPlatform platform;
};

TEST_F(MemoryRegistry, KeysOpenWhateverTheCaseAndEnumerateInInsertionOrder) {
    platform.localMachine().createKey("Software\\ASIO\\Zeta");
    platform.localMachine().createKey("software\\asio\\alpha");
    platform.localMachine().createKey("SOFTWARE\\Asio\\ZETA");    // the same key again
    platform.localMachine().createKey("software\\\\asio\\Mid\\"); // empty steps are skipped
    EXPECT_EQ(subkeysOf("software\\asio"), (std::vector<std::string>{"Zeta", "alpha", "Mid"}));
    EXPECT_EQ(subkeysOf("SOFTWARE"), (std::vector<std::string>{"ASIO"})); // as first spelt
}

TEST_F(MemoryRegistry, LookupsFailOnMissingKeysEmptyStepsAndUnknownHandles) {
    platform.localMachine().createKey("software\\asio");
    RegKey key = 0;
    EXPECT_NE(platform.openKey(kLocalMachine, "software\\midi", &key), kOk);
    EXPECT_NE(platform.openKey(kLocalMachine, "software\\\\asio", &key), kOk);
    EXPECT_NE(platform.openKey(kLocalMachine, "software\\asio\\", &key), kOk);
    EXPECT_NE(platform.openKey(kClassesRoot, "software", &key), kOk);
    EXPECT_NE(platform.openKey(12345, "software", &key), kOk);
    EXPECT_NE(platform.openKey(kLocalMachine, "software", nullptr), kOk);
    EXPECT_EQ(platform.keysOpenedInTotal(), 0);
    EXPECT_EQ(platform.openKeyCount(), 0);
}

TEST_F(MemoryRegistry, CountsOpenHandlesAndBadCloses) {
    auto asio = platform.localMachine().createKey("software\\asio");
    RegKey first = 0;
    RegKey second = 0;
    ASSERT_EQ(platform.openKey(kLocalMachine, "software\\asio", &first), kOk);
    ASSERT_EQ(platform.openKey(first, "", &second), kOk); // the same key, a handle of its own
    EXPECT_NE(first, second);
    EXPECT_EQ(platform.openKeyCount(), 2);
    EXPECT_EQ(asio.timesOpened(), 2);
    platform.closeKey(first);
    platform.closeKey(kLocalMachine);
    EXPECT_EQ(platform.openKeyCount(), 1);
    EXPECT_EQ(platform.invalidCloseCount(), 0);
    platform.closeKey(first);
    EXPECT_EQ(platform.invalidCloseCount(), 1);
    platform.closeKey(second);
    EXPECT_EQ(platform.openKeyCount(), 0);
    EXPECT_EQ(platform.keysOpenedInTotal(), 2);
}

TEST_F(MemoryRegistry, ReadsNamedAndDefaultTextValuesThatFit) {
    platform.classesRoot()
        .createKey("clsid\\{X}\\InprocServer32")
        .setValue("", "C:\\driver.dll")
        .setValue("ThreadingModel", "Apartment")
        .setValue("threadingmodel", "Both");
    RegKey key = 0;
    ASSERT_EQ(platform.openKey(kClassesRoot, "CLSID\\{x}\\inprocserver32", &key), kOk);
    char text[14];
    ASSERT_EQ(platform.queryValue(key, "", text, sizeof text), kOk);
    EXPECT_STREQ(text, "C:\\driver.dll");
    ASSERT_EQ(platform.queryValue(key, nullptr, text, sizeof text), kOk);
    EXPECT_STREQ(text, "C:\\driver.dll");
    ASSERT_EQ(platform.queryValue(key, "THREADINGMODEL", text, sizeof text), kOk);
    EXPECT_STREQ(text, "Both");

    std::memset(text, '#', sizeof text);
    EXPECT_NE(platform.queryValue(key, "", text, 13), kOk); // no room for the terminator
    EXPECT_EQ(std::string(text, sizeof text), std::string(sizeof text, '#'));
    EXPECT_NE(platform.queryValue(key, "Missing", text, sizeof text), kOk);
    EXPECT_NE(platform.queryValue(key, "", nullptr, sizeof text), kOk);
    platform.closeKey(key);
}

TEST_F(MemoryRegistry, ASubkeyNameThatDoesNotFitFailsWithoutWriting) {
    platform.localMachine().createKey("software\\asio\\Four");
    RegKey key = 0;
    ASSERT_EQ(platform.openKey(kLocalMachine, "software\\asio", &key), kOk);
    char name[8];
    std::memset(name, '#', sizeof name);
    EXPECT_NE(platform.enumKey(key, 0, name, 4), kOk);
    EXPECT_EQ(std::string(name, sizeof name), std::string(sizeof name, '#'));
    ASSERT_EQ(platform.enumKey(key, 0, name, 5), kOk);
    EXPECT_STREQ(name, "Four");
    EXPECT_NE(platform.enumKey(key, 1, name, sizeof name), kOk);
    platform.closeKey(key);
}

TEST_F(MemoryRegistry, RemovedKeysFailThroughHandlesStillOpen) {
    platform.localMachine().createKey("software\\asio\\Gone\\Below").setValue("v", "x");
    RegKey below = 0;
    ASSERT_EQ(platform.openKey(kLocalMachine, "software\\asio\\Gone\\Below", &below), kOk);
    EXPECT_FALSE(platform.localMachine().removeKey("software\\asio\\Missing"));
    ASSERT_TRUE(platform.localMachine().removeKey("SOFTWARE\\asio\\gone"));
    char text[8];
    EXPECT_NE(platform.queryValue(below, "v", text, sizeof text), kOk);
    EXPECT_NE(platform.enumKey(below, 0, text, sizeof text), kOk);
    RegKey again = 0;
    EXPECT_NE(platform.openKey(below, "", &again), kOk);
    EXPECT_NE(platform.openKey(kLocalMachine, "software\\asio\\Gone", &again), kOk);
    EXPECT_EQ(subkeysOf("software\\asio"), std::vector<std::string>{});
    platform.closeKey(below);
    EXPECT_EQ(platform.invalidCloseCount(), 0);
}

TEST_F(MemoryRegistry, LookupsFindTheFirstOfKeysWithEqualNames) {
    auto first = platform.classesRoot().appendKey("clsid\\{abc}");
    auto later = platform.classesRoot().appendKey("clsid\\{ABC}");
    first.setValue("", "first");
    later.setValue("", "later");
    RegKey key = 0;
    ASSERT_EQ(platform.openKey(kClassesRoot, "clsid\\{ABC}", &key), kOk);
    char text[8];
    ASSERT_EQ(platform.queryValue(key, "", text, sizeof text), kOk);
    EXPECT_STREQ(text, "first");
    platform.closeKey(key);
    EXPECT_EQ(later.timesOpened(), 0);
}

TEST(MemoryPlatformText, LowerCasesAsciiLettersWithinTheLengthOnly) {
    MemoryPlatform platform;
    char text[] = "{ABC-xyz}\xC9QZ";
    platform.lowerCase(text, 10);
    EXPECT_STREQ(text, "{abc-xyz}\xC9QZ");
    platform.lowerCase(nullptr, 4);
}

TEST(MemoryPlatformText, ConvertsBracedClassIdsInEitherCase) {
    MemoryPlatform platform;
    ComGuid id{};
    ASSERT_TRUE(platform.classIdFromText("{0123abcd-4567-89ef-A0b1-C2d3E4f5a6B7}", &id));
    EXPECT_EQ(id.data1, 0x0123ABCDu);
    EXPECT_EQ(id.data2, 0x4567u);
    EXPECT_EQ(id.data3, 0x89EFu);
    const std::uint8_t data4[8] = {0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5, 0xA6, 0xB7};
    EXPECT_EQ(std::memcmp(id.data4, data4, sizeof data4), 0);
    EXPECT_EQ(platform::classIdText(id), "{0123ABCD-4567-89EF-A0B1-C2D3E4F5A6B7}");

    const ComGuid roundTrip = {0xFFFFFFFFu, 0x0001, 0xFFFE, {0, 0xFF, 1, 2, 0x80, 0x7F, 9, 0x10}};
    ComGuid back{};
    ASSERT_TRUE(platform.classIdFromText(platform::classIdText(roundTrip).c_str(), &back));
    EXPECT_EQ(std::memcmp(&back, &roundTrip, sizeof back), 0);
}

TEST(MemoryPlatformText, RejectsAnyOtherShapeAndLeavesTheIdAlone) {
    MemoryPlatform platform;
    const std::string longText = "{01234567-89ab-cdef-0123-456789abcdef}" + std::string(62, ' ');
    for (const std::string& text : {
             std::string(""),
             std::string("01234567-89ab-cdef-0123-456789abcdef"),
             std::string("{01234567-89ab-cdef-0123-456789abcdef"),
             std::string("{01234567-89ab-cdef-0123-456789abcdef}x"),
             std::string("{01234567-89ab-cdef-0123456789abcdef0}"),
             std::string("{0123456-789ab-cdef-0123-456789abcdef}"),
             std::string("{01234567-89ab-cdef-0123-456789abcdeg}"),
             std::string("{01234567-89ab-cdef-0123-456789abcde}"),
             std::string("{+1234567-89ab-cdef-0123-456789abcdef}"),
             std::string("Vendor.Driver.1"),
             longText,
         }) {
        ComGuid id = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
        const ComGuid before = id;
        EXPECT_FALSE(platform.classIdFromText(text.c_str(), &id)) << '"' << text << '"';
        EXPECT_EQ(std::memcmp(&id, &before, sizeof id), 0) << '"' << text << '"';
    }
    ComGuid id{};
    EXPECT_FALSE(platform.classIdFromText(nullptr, &id));
    EXPECT_FALSE(platform.classIdFromText("{01234567-89ab-cdef-0123-456789abcdef}", nullptr));
}

TEST(MemoryPlatformFiles, OnlyAnExistingFileCounts) {
    MemoryPlatform platform;
    const ScratchFolder scratch;
    EXPECT_TRUE(platform.fileExists(scratch.makeFile("server.dll").c_str()));
    const std::string padded = scratch.paddedPath("server.dll", 600);
    EXPECT_EQ(padded.size(), 600u);
    EXPECT_TRUE(platform.fileExists(padded.c_str()));
    EXPECT_FALSE(platform.fileExists(scratch.missing("gone.dll").c_str()));
    EXPECT_FALSE(platform.fileExists(scratch.folder().c_str()));
    EXPECT_FALSE(platform.fileExists(""));
    EXPECT_FALSE(platform.fileExists(nullptr));
}

class MemoryClasses : public ::testing::Test {
protected:
    MemoryPlatform platform;
    const ComGuid classId = {0xC1A55u, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    FakeDriver driver{classId};
};

TEST_F(MemoryClasses, UnregisteredClassesTheZeroIdIncludedAreNotRegistered) {
    IASIO* object = &driver;
    EXPECT_EQ(platform.createInstance(classId, &object), platform::kClassNotRegistered);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(platform.createInstance(ComGuid{}, &object), platform::kClassNotRegistered);
    EXPECT_EQ(platform.createInstanceCount(), 2);
}

TEST_F(MemoryClasses, RegisteredFactoriesAndFailuresAnswerTheirClassOnly) {
    platform.registerClass(classId, [this] {
        driver.AddRef();
        return &driver;
    });
    const ComGuid failing = {0xBADu, 0, 0, {}};
    platform.failClass(failing, static_cast<std::int32_t>(0x80070005u));
    const ComGuid empty = {0xE3u, 0, 0, {}};
    platform.registerClass(empty, [] { return nullptr; });

    IASIO* object = nullptr;
    ASSERT_EQ(platform.createInstance(classId, &object), 0);
    EXPECT_EQ(object, &driver);
    EXPECT_EQ(driver.references, 1);
    EXPECT_EQ(platform.createInstance(failing, &object), static_cast<std::int32_t>(0x80070005u));
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(platform.createInstance(empty, &object), platform::kCreationFailed);
    EXPECT_EQ(platform.createInstance(ComGuid{}, &object), platform::kClassNotRegistered);
    EXPECT_NE(platform.createInstance(classId, nullptr), 0);

    platform.failClass(classId, platform::kCreationFailed); // replaces the factory
    EXPECT_EQ(platform.createInstance(classId, &object), platform::kCreationFailed);
    EXPECT_EQ(driver.references, 1);
}

TEST(CurrentPlatform, ScopedPlatformsInstallAndRestoreInTurn) {
    platform::Platform& standard = platform::currentPlatform();
    MemoryPlatform outer;
    MemoryPlatform inner;
    {
        const platform::ScopedPlatform installOuter(outer);
        EXPECT_EQ(&platform::currentPlatform(), &outer);
        {
            const platform::ScopedPlatform installInner(inner);
            EXPECT_EQ(&platform::currentPlatform(), &inner);
        }
        EXPECT_EQ(&platform::currentPlatform(), &outer);
    }
    EXPECT_EQ(&platform::currentPlatform(), &standard);
}

} // namespace
