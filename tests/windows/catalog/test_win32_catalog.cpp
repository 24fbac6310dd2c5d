// The loopback simulator installed as a real driver DLL: registered with regsvr32, scripted with
// reg.exe as a user would, found by the driver catalog through the real registry and created
// through the real COM runtime.

#include "catalog/driver_catalog.h"
#include "drivers/sim/loopback_sim.h"
#include "run_program.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

const std::string kDriverKey = std::string("SOFTWARE\\ASIO\\") + kLoopbackSimName;
const std::string kClassKey = std::string("CLSID\\") + kLoopbackSimClassIdText;
const std::string kSimDll = windowsPath(TARVELO_SIM_DLL);

long regsvr32(const std::string& options, const std::string& dll = kSimDll) {
    return runProgram("regsvr32.exe " + options + " " + quoted(dll));
}

// Sets a value of the simulator's driver key the way its users are told to.
void scriptValue(const std::string& name, const std::string& data, const char* type = "REG_SZ") {
    ASSERT_EQ(runProgram("reg.exe add " + quoted("HKLM\\" + kDriverKey) + " /v " + name + " /t " +
                         type + " /d " + quoted(data) + " /f"),
              0)
        << name << " = " << data;
}

std::optional<std::string> readText(HKEY root, const std::string& path, const char* name) {
    char text[1024]{};
    DWORD size = sizeof text;
    if (RegGetValueA(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::string(text);
}

bool keyExists(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    const bool exists = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
    RegCloseKey(key);
    return exists;
}

// The position of `name` in the catalog, -1 when it is not listed.
int indexOf(const DriverCatalog& catalog, const std::string& name) {
    for (int index = 0; index < catalog.GetCount(); ++index) {
        char listed[128]{};
        if (catalog.CopyName(index, listed, sizeof listed) == 0 && name == listed) {
            return index;
        }
    }
    return -1;
}

// The driver DLL loaded once more into this process, to ask it whether COM may unload it; when
// COM has loaded it already, this is the same module.
class LoadedServer {
public:
    LoadedServer()
        : m_module(LoadLibraryA(kSimDll.c_str())) {}
    ~LoadedServer() { FreeLibrary(m_module); }
    LoadedServer(const LoadedServer&) = delete;
    LoadedServer& operator=(const LoadedServer&) = delete;

    HRESULT canUnloadNow() const {
        using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
        const FARPROC found = GetProcAddress(m_module, "DllCanUnloadNow");
        return found ? reinterpret_cast<CanUnloadNow>(reinterpret_cast<void (*)()>(found))()
                     : E_NOTIMPL;
    }

private:
    HMODULE m_module;
};

// Each test starts with the simulator freshly registered and leaves nothing of it behind.
class InstalledSimulator : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kDriverKey)) << "left over by an earlier test";
        ASSERT_EQ(regsvr32("/s"), 0);
    }
    void TearDown() override {
        EXPECT_EQ(regsvr32("/u /s"), 0);
        EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kDriverKey));
        EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kClassKey));
    }
};

TEST_F(InstalledSimulator, RegistrationNamesTheDriverAndItsServerAndKeepsTheSettings) {
    EXPECT_EQ(readText(HKEY_LOCAL_MACHINE, kDriverKey, "CLSID"), kLoopbackSimClassIdText);
    EXPECT_EQ(readText(HKEY_LOCAL_MACHINE, kDriverKey, "Description"), kLoopbackSimName);
    const std::string serverKey = kClassKey + "\\InprocServer32";
    EXPECT_EQ(lstrcmpiA(readText(HKEY_CLASSES_ROOT, serverKey, nullptr).value_or("").c_str(),
                        kSimDll.c_str()),
              0);
    EXPECT_EQ(readText(HKEY_CLASSES_ROOT, serverKey, "ThreadingModel"), "Both");
    scriptValue("Settings", "inputs=4");
    ASSERT_EQ(regsvr32("/s"), 0); // registering again, as an update would
    EXPECT_EQ(readText(HKEY_LOCAL_MACHINE, kDriverKey, "Settings"), "inputs=4");
}

TEST_F(InstalledSimulator, TheCatalogCreatesItThroughComAndItReadsItsSettingsAtInit) {
    const struct {
        const char* type;
        const char* settings;
        ASIOLong inputs; // -1: init fails
        const char* error;
    } cases[] = {
        {"REG_SZ", "inputs=8, outputs=4; delay=100", 8, ""},
        {"REG_SZ", "bogus=1", -1, "Settings: unknown key 'bogus'"},
        {"REG_DWORD", "8", -1, "Settings: the registry value is not text"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        DriverCatalog catalog;
        IASIO* driver = nullptr;
        ASSERT_EQ(catalog.OpenDriver(indexOf(catalog, kLoopbackSimName), &driver), 0);
        const LoadedServer server; // COM loaded the DLL into this process to make the object
        EXPECT_EQ(server.canUnloadNow(), S_FALSE);
        // Written after the object was made: init is what reads them.
        ASSERT_NO_FATAL_FAILURE(scriptValue("Settings", c.settings, c.type));
        std::int32_t systemHandle = 0;
        EXPECT_EQ(driver->init(&systemHandle), c.inputs > 0 ? ASIOTrue : ASIOFalse);
        char error[124]{};
        driver->getErrorMessage(error);
        EXPECT_EQ(std::string(error).rfind(c.error, 0), 0u) << error;
        ASIOLong inputs = -1;
        ASIOLong outputs = -1;
        driver->getChannels(&inputs, &outputs);
        EXPECT_EQ(inputs, c.inputs);
        EXPECT_EQ(catalog.CloseDriver(indexOf(catalog, kLoopbackSimName)), 0);
        EXPECT_EQ(server.canUnloadNow(), S_OK);
    }
}

TEST_F(InstalledSimulator, ADriverWithoutItsServerFileIsNotListedNorTakesAPosition) {
    char temp[MAX_PATH]{};
    ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
    const std::string copy = std::string(temp) + "tarvelo_sim_copy.dll";
    ASSERT_TRUE(CopyFileA(kSimDll.c_str(), copy.c_str(), FALSE));
    ASSERT_EQ(regsvr32("/s", copy), 0); // the copy registers itself in place of the build's
    EXPECT_GE(indexOf(DriverCatalog(), kLoopbackSimName), 0);
    ASSERT_TRUE(DeleteFileA(copy.c_str()));
    EXPECT_EQ(DriverCatalog().GetCount(), 0);
    ASSERT_EQ(regsvr32("/s"), 0);
    EXPECT_GE(indexOf(DriverCatalog(), kLoopbackSimName), 0);
    ASSERT_EQ(regsvr32("/u /s"), 0);
    EXPECT_EQ(indexOf(DriverCatalog(), kLoopbackSimName), -1);
    ASSERT_EQ(regsvr32("/s"), 0);
}

} // namespace
