// The Win32 platform backend against Wine's real registry, file system and COM runtime. The
// tests make their own keys, files and classes with calls the backend never makes, and remove
// them again.

#include "platform/platform.h"
#include "support/fake_driver.h"

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace {

using platform::kOk;
using platform::RegKey;
using platform::Status;

platform::Platform& backend() {
    return platform::win32Platform();
}

CLSID toClsid(const ComGuid& id) {
    CLSID converted;
    std::memcpy(&converted, &id, sizeof converted);
    return converted;
}

bool sameId(const ComGuid& a, const ComGuid& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool sameId(const GUID& a, const ComGuid& b) {
    return std::memcmp(&a, &b, sizeof b) == 0;
}

// No server is registered for this class.
constexpr ComGuid kUnregisteredClass{
    0x3C1E9A77, 0x52D0, 0x4B8E, {0x91, 0x0F, 0x21, 0x43, 0x65, 0x87, 0xA9, 0xCB}};

// A key opened through the backend and closed again at the end of the scope.
class OpenedKey {
public:
    OpenedKey(RegKey parent, const char* path)
        : m_status(backend().openKey(parent, path, &m_key)) {}
    ~OpenedKey() {
        if (m_status == kOk) {
            backend().closeKey(m_key);
        }
    }
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;

    Status status() const { return m_status; }
    RegKey key() const { return m_key; }

private:
    RegKey m_key = 0;
    Status m_status;
};

// The keys a driver installation leaves, written below HKLM\SOFTWARE\ASIO-test and
// HKCR\CLSID\{test class}; both trees are removed before and after each test.
class Win32Registry : public ::testing::Test {
protected:
    static constexpr const char* kTestKey = "SOFTWARE\\ASIO-test";
    static constexpr const char* kTestClassKey = "CLSID\\{6A0F3B2C-1D4E-4F50-8A9B-C0D1E2F30415}";

    void SetUp() override { removeTestKeys(); }
    void TearDown() override { removeTestKeys(); }

    static void removeTestKeys() {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTestKey);
        RegDeleteTreeA(HKEY_CLASSES_ROOT, kTestClassKey);
    }

    static std::string testPath(const std::string& path) {
        return std::string(kTestKey) + "\\" + path;
    }

    static HKEY createKey(HKEY root, const std::string& path) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS)
            << path;
        return key;
    }

    static void writeKey(const std::string& path) {
        RegCloseKey(createKey(HKEY_LOCAL_MACHINE, testPath(path)));
    }

    // Value `name` (null: the default value) of the key `path` below `root`: `size` bytes of
    // `data`, stored as they are.
    static void writeValue(HKEY root, const std::string& path, const char* name, DWORD type,
                           const void* data, DWORD size) {
        const HKEY key = createKey(root, path);
        EXPECT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    // Text value with its terminator, below the test key.
    static void writeText(const std::string& path, const char* name, const std::string& text,
                          DWORD type = REG_SZ) {
        writeValue(HKEY_LOCAL_MACHINE, testPath(path), name, type, text.c_str(),
                   static_cast<DWORD>(text.size() + 1));
    }
};

TEST_F(Win32Registry, OpensKeysBelowEitherRootWhateverTheirCase) {
    writeKey("Driver One\\Settings");
    const std::string path = "C:\\Drivers\\one.dll";
    writeValue(HKEY_CLASSES_ROOT, std::string(kTestClassKey) + "\\InprocServer32", nullptr, REG_SZ,
               path.c_str(), static_cast<DWORD>(path.size() + 1));

    const OpenedKey driver(platform::kLocalMachine, "software\\asio-test\\DRIVER ONE");
    ASSERT_EQ(driver.status(), kOk);
    EXPECT_NE(driver.key(), 0u);
    EXPECT_EQ(OpenedKey(driver.key(), "settings").status(), kOk);
    EXPECT_NE(OpenedKey(platform::kLocalMachine, "software\\asio-test\\Driver Two").status(), kOk);
    EXPECT_NE(OpenedKey(driver.key(), "Other").status(), kOk);

    const OpenedKey server(platform::kClassesRoot,
                           "clsid\\{6a0f3b2c-1d4e-4f50-8a9b-c0d1e2f30415}\\inprocserver32");
    ASSERT_EQ(server.status(), kOk);
    std::array<char, 512> text{};
    ASSERT_EQ(backend().queryValue(server.key(), nullptr, text.data(), text.size()), kOk);
    EXPECT_STREQ(text.data(), path.c_str());
}

TEST_F(Win32Registry, EnumeratesSubkeysInRegistryOrderUntilTheFirstFailure) {
    writeKey("Gamma");
    writeKey("alpha");
    writeKey("Beta");
    const OpenedKey root(platform::kLocalMachine, kTestKey);
    ASSERT_EQ(root.status(), kOk);

    std::vector<std::string> names;
    std::array<char, 128> name{};
    for (std::uint32_t index = 0; index < 10; ++index) {
        if (backend().enumKey(root.key(), index, name.data(), name.size()) != kOk) {
            break;
        }
        names.emplace_back(name.data());
    }
    // The registry keeps subkeys sorted without regard to case, whatever the order of creation.
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Beta", "Gamma"}));
}

TEST_F(Win32Registry, ASubkeyNameMustFitWithItsTerminator) {
    writeKey("Gamma");
    const OpenedKey root(platform::kLocalMachine, kTestKey);
    ASSERT_EQ(root.status(), kOk);

    std::array<char, 8> name{};
    EXPECT_NE(backend().enumKey(root.key(), 0, name.data(), 5), kOk);
    ASSERT_EQ(backend().enumKey(root.key(), 0, name.data(), 6), kOk);
    EXPECT_STREQ(name.data(), "Gamma");
}

TEST_F(Win32Registry, ReadsNamedAndDefaultTextValues) {
    writeText("Driver", "clsid", "{6A0F3B2C-1D4E-4F50-8A9B-C0D1E2F30415}");
    writeText("Driver", nullptr, "Default text");
    writeText("Driver", "path", "%ProgramFiles%\\driver.dll", REG_EXPAND_SZ);
    const OpenedKey driver(platform::kLocalMachine, testPath("Driver").c_str());
    ASSERT_EQ(driver.status(), kOk);

    std::array<char, 256> text{};
    ASSERT_EQ(backend().queryValue(driver.key(), "CLSID", text.data(), text.size()), kOk);
    EXPECT_STREQ(text.data(), "{6A0F3B2C-1D4E-4F50-8A9B-C0D1E2F30415}");
    text.fill('#');
    ASSERT_EQ(backend().queryValue(driver.key(), nullptr, text.data(), text.size()), kOk);
    EXPECT_STREQ(text.data(), "Default text");
    text.fill('#');
    ASSERT_EQ(backend().queryValue(driver.key(), "", text.data(), text.size()), kOk);
    EXPECT_STREQ(text.data(), "Default text");
    ASSERT_EQ(backend().queryValue(driver.key(), "path", text.data(), text.size()), kOk);
    EXPECT_STREQ(text.data(), "%ProgramFiles%\\driver.dll");
}

TEST_F(Win32Registry, AbsentValuesAndValuesThatAreNotTextAreUnreadable) {
    writeText("Driver", "clsid", "{6A0F3B2C-1D4E-4F50-8A9B-C0D1E2F30415}");
    const DWORD number = 0x00414243; // "CBA" and a terminator, if it were read as text
    writeValue(HKEY_LOCAL_MACHINE, testPath("Driver"), "description", REG_DWORD, &number,
               sizeof number);
    const OpenedKey driver(platform::kLocalMachine, testPath("Driver").c_str());
    ASSERT_EQ(driver.status(), kOk);

    std::array<char, 256> text{};
    EXPECT_NE(backend().queryValue(driver.key(), "description", text.data(), text.size()), kOk);
    EXPECT_NE(backend().queryValue(driver.key(), "absent", text.data(), text.size()), kOk);
    EXPECT_NE(backend().queryValue(driver.key(), nullptr, text.data(), text.size()), kOk);
}

TEST_F(Win32Registry, TextThatDoesNotFitWithItsTerminatorIsUnreadable) {
    writeText("Driver", "terminated", "0123456789");
    // Stored without its terminator. The byte after the counted ones must not be 0, or the
    // registry counts the terminator in by itself.
    writeValue(HKEY_LOCAL_MACHINE, testPath("Driver"), "bare", REG_SZ, "0123456789X", 10);
    const OpenedKey driver(platform::kLocalMachine, testPath("Driver").c_str());
    ASSERT_EQ(driver.status(), kOk);

    for (const char* valueName : {"terminated", "bare"}) {
        SCOPED_TRACE(valueName);
        std::array<char, 16> text{};
        text.fill('#');
        EXPECT_NE(backend().queryValue(driver.key(), valueName, text.data(), 10), kOk);
        EXPECT_TRUE(std::all_of(text.begin() + 10, text.end(), [](char c) { return c == '#'; }))
            << "written past the buffer";

        text.fill('#');
        ASSERT_EQ(backend().queryValue(driver.key(), valueName, text.data(), 11), kOk);
        EXPECT_STREQ(text.data(), "0123456789");
        EXPECT_TRUE(std::all_of(text.begin() + 11, text.end(), [](char c) { return c == '#'; }))
            << "written past the buffer";
    }
}

TEST_F(Win32Registry, AClosedKeyCanNoLongerBeRead) {
    writeKey("Sub");
    RegKey key = 0;
    ASSERT_EQ(backend().openKey(platform::kLocalMachine, kTestKey, &key), kOk);
    std::array<char, 16> name{};
    ASSERT_EQ(backend().enumKey(key, 0, name.data(), name.size()), kOk);

    backend().closeKey(key);
    EXPECT_NE(backend().enumKey(key, 0, name.data(), name.size()), kOk);
}

TEST(Win32Text, LowerCasesTheGivenLengthByTheAnsiCodePage) {
    // scripts/wine-env fixes the locale, so that Wine's ANSI code page is Western European.
    ASSERT_EQ(GetACP(), 1252u);
    char text[] = "CLSID\xC0\xC9 TAIL";
    backend().lowerCase(text, 7);
    EXPECT_STREQ(text, "clsid\xE0\xE9 TAIL");
}

TEST(Win32ClassIds, ConvertsAClassIdInBracesWrittenInEitherCase) {
    const ComGuid expected{
        0x0123ABCD, 0x4567, 0x89AB, {0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}};
    for (const char* text :
         {"{0123ABCD-4567-89AB-CDEF-0123456789AB}", "{0123abcd-4567-89ab-cdef-0123456789ab}"}) {
        SCOPED_TRACE(text);
        ComGuid id{};
        ASSERT_TRUE(backend().classIdFromText(text, &id));
        EXPECT_TRUE(sameId(id, expected));
    }
}

TEST(Win32ClassIds, OtherTextDoesNotConvertAndLeavesTheIdUntouched) {
    const std::string valid = "{0123ABCD-4567-89AB-CDEF-0123456789AB}";
    const std::string texts[] = {
        "0123ABCD-4567-89AB-CDEF-0123456789AB",   // no braces
        "{0123ABCD-4567-89AB-CDEF-0123456789AG}", // not hexadecimal
        "{0123ABCD-4567-89AB-CDEF-0123456789A}",  // one digit short
        "Some.Driver",
        valid + std::string(120 - valid.size(), ' '), // past what the conversion takes
    };
    ComGuid untouched;
    std::memset(&untouched, 0x5A, sizeof untouched);
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        ComGuid id = untouched;
        EXPECT_FALSE(backend().classIdFromText(text.c_str(), &id));
        EXPECT_TRUE(sameId(id, untouched));
    }
}

// Files in a folder of the temporary folder, one of them deeper than 128 characters.
class Win32Files : public ::testing::Test {
protected:
    void SetUp() override {
        std::array<char, MAX_PATH> temp{};
        ASSERT_NE(GetTempPathA(MAX_PATH, temp.data()), 0u);
        m_folders.push_back(std::string(temp.data()) + "tarvelo-file-test");
        while (m_folders.back().size() < 130) {
            m_folders.push_back(m_folders.back() + "\\a folder with a long name");
        }
        for (const std::string& folder : m_folders) {
            ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
        }
        m_shallowFile = m_folders.front() + "\\driver.dll";
        m_deepFile = m_folders.back() + "\\driver64.dll";
        for (const std::string& file : {m_shallowFile, m_deepFile}) {
            const HANDLE handle = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                              FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(handle, INVALID_HANDLE_VALUE) << file;
            CloseHandle(handle);
        }
    }

    void TearDown() override {
        DeleteFileA(m_shallowFile.c_str());
        DeleteFileA(m_deepFile.c_str());
        for (auto folder = m_folders.rbegin(); folder != m_folders.rend(); ++folder) {
            RemoveDirectoryA(folder->c_str());
        }
    }

    std::vector<std::string> m_folders;
    std::string m_shallowFile;
    std::string m_deepFile;
};

TEST_F(Win32Files, AnExistingFileExistsWhateverTheLengthOfItsPath) {
    EXPECT_TRUE(backend().fileExists(m_shallowFile.c_str()));
    ASSERT_GT(m_deepFile.size(), 128u);
    EXPECT_TRUE(backend().fileExists(m_deepFile.c_str())) << m_deepFile;
}

TEST_F(Win32Files, AMissingFileOrAFolderIsNoFile) {
    EXPECT_FALSE(backend().fileExists((m_folders.front() + "\\missing.dll").c_str()));
    EXPECT_FALSE(backend().fileExists("C:\\no such folder\\driver.dll"));
    EXPECT_FALSE(backend().fileExists(m_folders.front().c_str()));

    ASSERT_TRUE(DeleteFileA(m_shallowFile.c_str()));
    EXPECT_FALSE(backend().fileExists(m_shallowFile.c_str()));
}

TEST_F(Win32Files, ABareNameIsLookedForWhereWindowsKeepsItsLibraries) {
    EXPECT_TRUE(backend().fileExists("ole32.dll"));
    EXPECT_FALSE(backend().fileExists("tarvelo-no-such-driver.dll"));
}

// Hands out the fake driver and notes what it was asked for, as a driver's class factory would
// be asked. Registered with the process's COM runtime, so no DLL is needed. COM interfaces have
// no destructor: their objects are released, never deleted through them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class FakeFactory final : public IClassFactory {
public:
    explicit FakeFactory(FakeDriver& driver)
        : m_driver(driver) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interfaceId, void** object) override {
        if (IsEqualIID(interfaceId, IID_IUnknown) || IsEqualIID(interfaceId, IID_IClassFactory)) {
            *object = this;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // Lives as long as the test; the runtime's references need no counting.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID interfaceId,
                                             void** object) override {
        m_outer = outer;
        m_requestedInterface = interfaceId;
        m_driver.AddRef();
        *object = static_cast<IASIO*>(&m_driver);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

    IUnknown* outer() const { return m_outer; }
    const IID& requestedInterface() const { return m_requestedInterface; }

private:
    FakeDriver& m_driver;
    IUnknown* m_outer = nullptr;
    IID m_requestedInterface{};
};
#pragma GCC diagnostic pop

TEST(Win32ComApartment, ObjectsCanBeCreatedOnlyBetweenInitializeAndUninitialize) {
    IASIO* driver = nullptr;
    EXPECT_EQ(backend().createInstance(kUnregisteredClass, &driver), CO_E_NOTINITIALIZED);

    backend().comInitialize();
    EXPECT_EQ(backend().createInstance(kUnregisteredClass, &driver), REGDB_E_CLASSNOTREG);
    // The apartment is single-threaded, the one in-process drivers are written for.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    backend().comUninitialize();

    EXPECT_EQ(backend().createInstance(kUnregisteredClass, &driver), CO_E_NOTINITIALIZED);
}

class Win32Com : public ::testing::Test {
protected:
    static constexpr ComGuid kFakeClass{
        0x5D3AC1E2, 0x7B4F, 0x4C19, {0x9A, 0x31, 0x0E, 0x62, 0xD8, 0x47, 0xB5, 0x13}};

    void SetUp() override {
        backend().comInitialize();
        ASSERT_EQ(CoRegisterClassObject(toClsid(kFakeClass), &m_factory, CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &m_registration),
                  S_OK);
    }
    void TearDown() override {
        CoRevokeClassObject(m_registration);
        backend().comUninitialize();
    }

    FakeDriver m_driver;
    FakeFactory m_factory{m_driver};
    DWORD m_registration = 0;
};

TEST_F(Win32Com, CreatesTheObjectAskingForTheClassIdAsItsInterface) {
    IASIO* driver = nullptr;
    ASSERT_EQ(backend().createInstance(kFakeClass, &driver), S_OK);

    ASSERT_EQ(driver, static_cast<IASIO*>(&m_driver));
    EXPECT_EQ(m_driver.references, 1);
    EXPECT_TRUE(sameId(m_factory.requestedInterface(), kFakeClass));
    EXPECT_EQ(m_factory.outer(), nullptr);
    driver->Release();
}

TEST_F(Win32Com, AClassWithoutServerGivesTheCreationsFailureAndNoObject) {
    const ComGuid zero{};
    for (const ComGuid& classId : {kUnregisteredClass, zero}) {
        IASIO* driver = &m_driver;
        EXPECT_EQ(backend().createInstance(classId, &driver), REGDB_E_CLASSNOTREG);
        EXPECT_EQ(driver, nullptr);
    }
    EXPECT_EQ(m_driver.references, 0);
}

} // namespace
