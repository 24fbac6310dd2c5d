// The Win32 platform backend against Wine's real registry, file system and COM runtime. The
// tests make their own keys, files and classes with calls the backend never makes, and remove
// them again.

#include "platform/platform.h"
#include "support/fake_driver.h"

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using platform::kOk;
using platform::RegKey;

platform::Platform& backend() {
    return platform::win32Platform();
}

bool sameId(const void* a, const ComGuid& b) {
    return std::memcmp(a, &b, sizeof b) == 0;
}

// Keys below HKLM\SOFTWARE\ASIO-test and HKCR\CLSID\{test class}, removed before and after each
// test; `open` opens through the backend and closes again at the end of the test.
class Win32Registry : public ::testing::Test {
protected:
    static constexpr const char* kTestKey = "SOFTWARE\\ASIO-test";
    static constexpr const char* kClassKey = "CLSID\\{6A0F3B2C-1D4E-4F50-8A9B-C0D1E2F30415}";

    void SetUp() override { TearDown(); }
    void TearDown() override {
        for (const RegKey key : m_opened) {
            backend().closeKey(key);
        }
        m_opened.clear();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTestKey);
        RegDeleteTreeA(HKEY_CLASSES_ROOT, kClassKey);
    }

    // `size` bytes of `data` as value `name` (null: the default value) of `path` below `root`.
    static void write(HKEY root, const std::string& path, const char* name, DWORD type,
                      const void* data, DWORD size) {
        ASSERT_EQ(RegSetKeyValueA(root, path.c_str(), name, type, data, size), ERROR_SUCCESS);
    }
    static void writeText(const std::string& subkey, const char* name, const std::string& text,
                          DWORD type = REG_SZ) {
        write(HKEY_LOCAL_MACHINE, std::string(kTestKey) + "\\" + subkey, name, type, text.c_str(),
              static_cast<DWORD>(text.size() + 1));
    }
    RegKey open(RegKey parent, const std::string& path) {
        RegKey key = 0;
        if (backend().openKey(parent, path.c_str(), &key) != kOk) {
            return 0;
        }
        m_opened.push_back(key);
        return key;
    }

private:
    std::vector<RegKey> m_opened;
};

TEST_F(Win32Registry, OpensBelowEitherRootWhateverTheCaseAndEnumeratesInRegistryOrder) {
    for (const char* name : {"Gamma", "alpha", "Beta"}) {
        writeText(name, "clsid", "x");
    }
    const std::string server = "C:\\Drivers\\one.dll";
    write(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\InprocServer32", nullptr, REG_SZ,
          server.c_str(), static_cast<DWORD>(server.size() + 1));

    const RegKey root = open(platform::kLocalMachine, "software\\asio-test");
    ASSERT_NE(root, 0u);
    EXPECT_NE(open(root, "BETA"), 0u);
    EXPECT_EQ(open(root, "Delta"), 0u);
    std::vector<std::string> names;
    char name[8];
    for (std::uint32_t i = 0; backend().enumKey(root, i, name, sizeof name) == kOk; ++i) {
        names.emplace_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Beta", "Gamma"}));
    EXPECT_NE(backend().enumKey(root, 2, name, 5), kOk) << "Gamma needs 6 bytes";

    const RegKey inproc = open(platform::kClassesRoot,
                               "clsid\\{6a0f3b2c-1d4e-4f50-8a9b-c0d1e2f30415}\\inprocserver32");
    char text[64];
    ASSERT_EQ(backend().queryValue(inproc, nullptr, text, sizeof text), kOk);
    EXPECT_STREQ(text, server.c_str());
}

TEST_F(Win32Registry, ReadsTextThatFitsWithItsTerminatorAndNothingElse) {
    writeText("Driver", "clsid", "{6A0F3B2C-1D4E-4F50-8A9B-C0D1E2F30415}");
    writeText("Driver", nullptr, "Default text");
    writeText("Driver", "path", "%ProgramFiles%\\driver.dll", REG_EXPAND_SZ);
    writeText("Driver", "terminated", "0123456789");
    // Stored without its terminator; the byte after the counted ones must not be 0, or the
    // registry counts a terminator in by itself.
    write(HKEY_LOCAL_MACHINE, std::string(kTestKey) + "\\Driver", "bare", REG_SZ, "0123456789X",
          10);
    const DWORD number = 0x00414243; // "CBA" if it were read as text
    write(HKEY_LOCAL_MACHINE, std::string(kTestKey) + "\\Driver", "number", REG_DWORD, &number,
          sizeof number);
    const RegKey key = open(platform::kLocalMachine, std::string(kTestKey) + "\\Driver");
    const struct {
        const char* name;
        std::uint32_t size;
        const char* text; // null: unreadable
    } cases[] = {
        {"CLSID", 64, "{6A0F3B2C-1D4E-4F50-8A9B-C0D1E2F30415}"},
        {nullptr, 64, "Default text"},
        {"", 64, "Default text"},
        {"path", 64, "%ProgramFiles%\\driver.dll"},
        {"terminated", 11, "0123456789"},
        {"terminated", 10, nullptr},
        {"bare", 11, "0123456789"},
        {"bare", 10, nullptr},
        {"number", 64, nullptr},
        {"absent", 64, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << (c.name ? c.name : "(default)") << " in " << c.size);
        std::string text(80, '#');
        const bool read = backend().queryValue(key, c.name, text.data(), c.size) == kOk;
        EXPECT_EQ(read, c.text != nullptr);
        if (read) {
            EXPECT_STREQ(text.c_str(), c.text);
        }
        EXPECT_EQ(text.find_first_not_of('#', c.size), std::string::npos) << "written past";
    }
}

TEST_F(Win32Registry, AClosedKeyCanNoLongerBeRead) {
    writeText("Sub", "clsid", "x");
    RegKey key = 0;
    ASSERT_EQ(backend().openKey(platform::kLocalMachine, kTestKey, &key), kOk);
    char name[16];
    ASSERT_EQ(backend().enumKey(key, 0, name, sizeof name), kOk);
    backend().closeKey(key);
    EXPECT_NE(backend().enumKey(key, 0, name, sizeof name), kOk);
}

TEST(Win32Text, LowerCasesTheGivenLengthByTheAnsiCodePageAndConvertsClassIds) {
    ASSERT_EQ(GetACP(), 1252u) << "scripts/wine-env fixes the locale";
    char lowered[] = "CLSID\xC0\xC9 TAIL";
    backend().lowerCase(lowered, 7);
    EXPECT_STREQ(lowered, "clsid\xE0\xE9 TAIL");

    const ComGuid expected{
        0x0123ABCD, 0x4567, 0x89AB, {0xCD, 0xEF, 1, 0x23, 0x45, 0x67, 0x89, 0xAB}};
    const std::string valid = "{0123ABCD-4567-89AB-CDEF-0123456789AB}";
    for (const auto& [text, converts] : {std::pair{valid, true},
                                         {"{0123abcd-4567-89ab-cdef-0123456789ab}", true},
                                         {valid.substr(1, 36), false},
                                         {valid.substr(0, 36) + "G}", false},
                                         {"{0123ABCD-4567-89AB-CDEF-0123456789A}", false},
                                         {"Some.Driver", false},
                                         {valid + std::string(82, ' '), false}}) {
        SCOPED_TRACE(text);
        ComGuid id;
        std::memset(&id, 0x5A, sizeof id);
        const ComGuid untouched = id;
        EXPECT_EQ(backend().classIdFromText(text.c_str(), &id), converts);
        EXPECT_TRUE(sameId(&id, converts ? expected : untouched));
    }
}

TEST(Win32Files, OnlyAnExistingFileCountsWhateverTheLengthOfItsPath) {
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
    std::vector<std::string> folders{std::string(temp) + "tarvelo-file-test"};
    while (folders.back().size() < 130) {
        folders.push_back(folders.back() + "\\a folder with a long name");
    }
    for (const std::string& folder : folders) {
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    }
    const std::string deep = folders.back() + "\\driver64.dll";
    CloseHandle(CreateFileA(deep.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    EXPECT_TRUE(backend().fileExists(deep.c_str())) << deep;
    EXPECT_TRUE(backend().fileExists("ole32.dll")) << "a bare name: where Windows keeps DLLs";
    for (const std::string& missing : {folders.front() + "\\missing.dll", folders.front(),
                                       std::string("tarvelo-no-such-driver.dll")}) {
        EXPECT_FALSE(backend().fileExists(missing.c_str())) << missing;
    }
    DeleteFileA(deep.c_str());
    EXPECT_FALSE(backend().fileExists(deep.c_str()));
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        RemoveDirectoryA(folder->c_str());
    }
}

// Hands out the fake driver as a driver's class factory would, registered with the process's
// COM runtime, and notes which interface it was asked for. COM objects are released, never
// deleted through their interface.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class FakeFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        *object =
            IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory) ? this : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; } // lives as long as the test
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID iid, void** object) override {
        asked = iid;
        driver.AddRef();
        *object = static_cast<IASIO*>(&driver);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

    FakeDriver driver;
    IID asked{};
};
#pragma GCC diagnostic pop

TEST(Win32Com, CreatesObjectsInASingleThreadedApartmentAskingForTheClassIdAsInterface) {
    constexpr ComGuid kFake{
        0x5D3AC1E2, 0x7B4F, 0x4C19, {0x9A, 0x31, 0x0E, 0x62, 0xD8, 0x47, 0xB5, 0x13}};
    constexpr ComGuid kUnregistered{
        0x3C1E9A77, 0x52D0, 0x4B8E, {0x91, 0x0F, 0x21, 0x43, 0x65, 0x87, 0xA9, 0xCB}};
    IASIO* driver = nullptr;
    EXPECT_EQ(backend().createInstance(kUnregistered, &driver), CO_E_NOTINITIALIZED);
    backend().comInitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    FakeFactory factory;
    CLSID fakeClass;
    std::memcpy(&fakeClass, &kFake, sizeof fakeClass);
    DWORD registration = 0;
    ASSERT_EQ(CoRegisterClassObject(fakeClass, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                    &registration),
              S_OK);
    ASSERT_EQ(backend().createInstance(kFake, &driver), S_OK);
    EXPECT_EQ(driver, static_cast<IASIO*>(&factory.driver));
    EXPECT_TRUE(sameId(&factory.asked, kFake));
    EXPECT_EQ(factory.driver.references, 1);
    for (const ComGuid& unregistered : {kUnregistered, ComGuid{}}) {
        EXPECT_EQ(backend().createInstance(unregistered, &driver), REGDB_E_CLASSNOTREG);
        EXPECT_EQ(driver, nullptr);
    }
    CoRevokeClassObject(registration);
    backend().comUninitialize();
    EXPECT_EQ(backend().createInstance(kUnregistered, &driver), CO_E_NOTINITIALIZED);
}

} // namespace
