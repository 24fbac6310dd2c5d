// The loopback simulator installed as a real driver DLL, found by the driver catalog on the
// Win32 platform and created through the real registry and COM runtime. Each test registers the
// DLL with regsvr32, scripts its settings with reg.exe as a user would, and unregisters it again.

#include "catalog/driver_catalog.h"
#include "drivers/sim/loopback_sim.h"

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

const std::string kDriverKey = std::string("SOFTWARE\\ASIO\\") + kLoopbackSimName;
const std::string kClassKey = std::string("CLSID\\") + kLoopbackSimClassIdText;

// The build's path of the driver DLL (TARVELO_SIM_DLL) as Wine sees it: drive Z: is the root
// of the Linux file system.
std::string simDllPath() {
    std::string path = "Z:" TARVELO_SIM_DLL;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string fileNameOf(const std::string& path) {
    return path.substr(path.find_last_of('\\') + 1);
}

// Runs its action when the scope ends, however the test leaves it.
class AtExit {
public:
    explicit AtExit(std::function<void()> action)
        : m_action(std::move(action)) {}
    ~AtExit() { m_action(); }
    AtExit(const AtExit&) = delete;
    AtExit& operator=(const AtExit&) = delete;

private:
    std::function<void()> m_action;
};

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// Runs `commandLine` without a window; its exit code, or -1 if it did not start or end in time.
long runProgram(std::string commandLine) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &process)) {
        return -1;
    }
    DWORD exitCode = 0;
    const bool ended = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended ? static_cast<long>(exitCode) : -1;
}

long regsvr32(const std::string& options, const std::string& dll = simDllPath()) {
    return runProgram("regsvr32.exe " + options + " " + quoted(dll));
}

// Sets a value of the simulator's driver key the way its users are told to.
void scriptValue(const std::string& name, const std::string& data,
                 const std::string& type = "REG_SZ") {
    ASSERT_EQ(runProgram("reg.exe add " + quoted("HKLM\\" + kDriverKey) + " /v " + name + " /t " +
                         type + " /d " + quoted(data) + " /f"),
              0)
        << name << " = " << data;
}

void scriptSettings(const std::string& text) {
    scriptValue("Settings", text);
}

// The text value `name` (null: the default value) of `path` below `root`; none when absent.
std::optional<std::string> readText(HKEY root, const std::string& path, const char* name) {
    char text[1024]{};
    DWORD size = sizeof text;
    if (RegGetValueA(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::string(text);
}

void writeText(HKEY root, const std::string& path, const char* name, const std::string& text) {
    EXPECT_EQ(RegSetKeyValueA(root, path.c_str(), name, REG_SZ, text.c_str(),
                              static_cast<DWORD>(text.size() + 1)),
              ERROR_SUCCESS)
        << path;
}

bool keyExists(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

bool equalIgnoringCase(const std::string& a, const std::string& b) {
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) ==
           CSTR_EQUAL;
}

// Other test programs of the session may install drivers of their own, so the tests look for
// the simulator by name instead of counting on a position.
std::vector<std::string> listedNames(const DriverCatalog& catalog) {
    std::vector<std::string> names;
    for (int index = 0; index < catalog.GetCount(); ++index) {
        char name[128]{};
        EXPECT_EQ(catalog.CopyName(index, name, sizeof name), 0) << "index " << index;
        names.emplace_back(name);
    }
    return names;
}

int indexOf(const DriverCatalog& catalog, const std::string& name) {
    const std::vector<std::string> names = listedNames(catalog);
    const auto found = std::find(names.begin(), names.end(), name);
    return found == names.end() ? -1 : static_cast<int>(found - names.begin());
}

// Opens the simulator through the catalog; null, with a failure noted, when that fails.
IASIO* openSimulator(DriverCatalog& catalog) {
    const int index = indexOf(catalog, kLoopbackSimName);
    EXPECT_GE(index, 0) << "the catalog does not list the simulator";
    IASIO* driver = nullptr;
    if (index >= 0) {
        EXPECT_EQ(catalog.OpenDriver(index, &driver), 0);
    }
    return driver;
}

// A host initialises a driver with the address of a word holding 0.
ASIOBool initialise(IASIO& driver) {
    std::int32_t systemHandle = 0;
    return driver.init(&systemHandle);
}

// What getChannels answers; the counts stay -1 where it wrote nothing.
struct Channels {
    ASIOError result = ASE_OK;
    ASIOLong inputs = -1;
    ASIOLong outputs = -1;
};

Channels channelsOf(IASIO& driver) {
    Channels channels;
    channels.result = driver.getChannels(&channels.inputs, &channels.outputs);
    return channels;
}

std::string errorMessageOf(IASIO& driver) {
    char text[124]{};
    driver.getErrorMessage(text);
    return text;
}

// GetProcAddress hands out a generic function; the export's real type is known here.
template <typename Function>
Function exportOf(HMODULE module, const char* name) {
    const FARPROC found = GetProcAddress(module, name);
    return found != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found))
                            : nullptr;
}

// The driver DLL loaded once more into this process, to call its exports directly. When COM
// has loaded it already, this is the same module.
class LoadedServer {
public:
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

    LoadedServer()
        : m_module(LoadLibraryA(simDllPath().c_str())) {}
    ~LoadedServer() {
        if (m_module != nullptr) {
            FreeLibrary(m_module);
        }
    }
    LoadedServer(const LoadedServer&) = delete;
    LoadedServer& operator=(const LoadedServer&) = delete;

    HMODULE module() const { return m_module; }
    HRESULT canUnloadNow() const {
        const auto function = exportOf<CanUnloadNow>(m_module, "DllCanUnloadNow");
        return function != nullptr ? function() : E_NOTIMPL;
    }
    HRESULT getClassObject(const GUID& classId, const GUID& iid, void** object) const {
        const auto function = exportOf<GetClassObject>(m_module, "DllGetClassObject");
        return function != nullptr ? function(classId, iid, object) : E_NOTIMPL;
    }

private:
    HMODULE m_module;
};

CLSID simClassId() {
    CLSID id;
    std::memcpy(&id, &kLoopbackSimClassId, sizeof id);
    return id;
}

// Each test starts with the simulator freshly registered and leaves nothing of it behind.
class InstalledSimulator : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kDriverKey)) << "left over by an earlier test";
        ASSERT_FALSE(keyExists(HKEY_CLASSES_ROOT, kClassKey)) << "left over by an earlier test";
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
    const std::optional<std::string> server = readText(HKEY_CLASSES_ROOT, serverKey, nullptr);
    ASSERT_TRUE(server.has_value());
    EXPECT_TRUE(equalIgnoringCase(*server, simDllPath())) << *server;
    EXPECT_EQ(readText(HKEY_CLASSES_ROOT, serverKey, "ThreadingModel"), "Both");

    // Registering again, as an update would, leaves the user's personality in place.
    scriptSettings("inputs=4");
    ASSERT_EQ(regsvr32("/s"), 0);
    EXPECT_EQ(readText(HKEY_LOCAL_MACHINE, kDriverKey, "Settings"), "inputs=4");
    EXPECT_EQ(readText(HKEY_LOCAL_MACHINE, kDriverKey, "CLSID"), kLoopbackSimClassIdText);
}

TEST_F(InstalledSimulator, TheCatalogListsItAndCreatesItThroughCom) {
    DriverCatalog catalog;
    const std::vector<std::string> names = listedNames(catalog);
    EXPECT_EQ(std::count(names.begin(), names.end(), kLoopbackSimName), 1);

    IASIO* driver = openSimulator(catalog);
    ASSERT_NE(driver, nullptr);
    // COM loaded the DLL into this process to make the object.
    const LoadedServer server;
    ASSERT_NE(server.module(), nullptr);
    EXPECT_EQ(server.module(), GetModuleHandleA(fileNameOf(simDllPath()).c_str()));
    EXPECT_EQ(server.canUnloadNow(), S_FALSE);

    char name[32]{};
    driver->getDriverName(name);
    EXPECT_STREQ(name, kLoopbackSimName);
    EXPECT_EQ(initialise(*driver), ASIOTrue);
    const Channels channels = channelsOf(*driver);
    EXPECT_EQ(channels.result, ASE_OK);
    EXPECT_EQ(channels.inputs, 2);
    EXPECT_EQ(channels.outputs, 2);

    EXPECT_EQ(catalog.CloseDriver(indexOf(catalog, kLoopbackSimName)), 0);
    EXPECT_EQ(server.canUnloadNow(), S_OK);
}

TEST_F(InstalledSimulator, ItsSettingsAreReadFromTheRegistryAtInit) {
    DriverCatalog catalog;
    IASIO* driver = openSimulator(catalog);
    ASSERT_NE(driver, nullptr);
    // Written after the object was made: init is what reads them.
    scriptSettings("inputs=8, outputs=4; delay=100");
    ASSERT_EQ(initialise(*driver), ASIOTrue);

    const Channels channels = channelsOf(*driver);
    EXPECT_EQ(channels.result, ASE_OK);
    EXPECT_EQ(channels.inputs, 8);
    EXPECT_EQ(channels.outputs, 4);
    ASIOLong latencyIn = 0;
    ASIOLong latencyOut = 0;
    EXPECT_EQ(driver->getLatencies(&latencyIn, &latencyOut), ASE_OK);
    EXPECT_EQ(latencyIn, 256 + 8); // the default buffer and safety offsets
    EXPECT_EQ(latencyOut, 256 + 16);
}

TEST_F(InstalledSimulator, ScriptedFaultsReachTheHost) {
    scriptSettings("init=0");
    DriverCatalog catalog;
    IASIO* driver = openSimulator(catalog);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(initialise(*driver), ASIOFalse);
}

TEST_F(InstalledSimulator, SettingsThatDoNotReadMakeInitFailAndSayWhy) {
    struct Case {
        const char* type;
        const char* data;
        const char* reason;
    };
    const Case cases[] = {
        {"REG_SZ", "inputs=eight", "Settings: bad value 'eight' for inputs"},
        {"REG_SZ", "delay=100,cable", "Settings: 'cable' has no value"},
        {"REG_SZ", "bogus=1", "Settings: unknown key 'bogus'"},
        {"REG_DWORD", "8", "Settings: the registry value is not text"},
    };
    for (const Case& bad : cases) {
        SCOPED_TRACE(bad.data);
        scriptValue("Settings", bad.data, bad.type);
        DriverCatalog catalog;
        IASIO* driver = openSimulator(catalog);
        ASSERT_NE(driver, nullptr);

        EXPECT_EQ(initialise(*driver), ASIOFalse);
        EXPECT_EQ(errorMessageOf(*driver).rfind(bad.reason, 0), 0u) << errorMessageOf(*driver);
        const Channels refused = channelsOf(*driver);
        EXPECT_EQ(refused.result, ASE_NotPresent);
        EXPECT_EQ(refused.inputs, -1);
        EXPECT_EQ(errorMessageOf(*driver), "getChannels: the driver is not initialised");

        // Mended, the next init of the same object reads them again.
        scriptSettings("inputs=3");
        EXPECT_EQ(initialise(*driver), ASIOTrue);
        const Channels mended = channelsOf(*driver);
        EXPECT_EQ(mended.result, ASE_OK);
        EXPECT_EQ(mended.inputs, 3);
    }
}

TEST_F(InstalledSimulator, UnregisteringRemovesItFromTheNextScan) {
    {
        const DriverCatalog before;
        EXPECT_GE(indexOf(before, kLoopbackSimName), 0);
    }
    ASSERT_EQ(regsvr32("/u /s"), 0);
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kDriverKey));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kClassKey));

    const DriverCatalog after;
    EXPECT_EQ(indexOf(after, kLoopbackSimName), -1);
}

TEST_F(InstalledSimulator, ADriverWhoseServerFileWasRemovedIsNotListed) {
    char temp[MAX_PATH]{};
    ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
    const std::string copy = std::string(temp) + "tarvelo_sim_copy.dll";
    ASSERT_TRUE(CopyFileA(simDllPath().c_str(), copy.c_str(), FALSE));
    const AtExit removeCopy([&copy] { DeleteFileA(copy.c_str()); });
    // The copy registers itself in place of the build's DLL.
    ASSERT_EQ(regsvr32("/s", copy), 0);
    EXPECT_EQ(readText(HKEY_CLASSES_ROOT, kClassKey + "\\InprocServer32", nullptr), copy);
    {
        const DriverCatalog present;
        EXPECT_GE(indexOf(present, kLoopbackSimName), 0);
    }

    ASSERT_TRUE(DeleteFileA(copy.c_str()));
    const DriverCatalog missing;
    EXPECT_EQ(indexOf(missing, kLoopbackSimName), -1);
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, kDriverKey)) << "only the file is gone";
}

TEST_F(InstalledSimulator, ADriverKeyWhoseServerIsMissingTakesNoPosition) {
    const int countBefore = DriverCatalog().GetCount();
    // Sorts before the simulator, so it would push the simulator's index if it were listed.
    const std::string driverKey = "SOFTWARE\\ASIO\\Tarvelo A Missing Driver";
    const std::string classText = "{7C2E4A10-3B5D-4E6F-8091-A2B3C4D5E6F7}";
    const std::string classKey = "CLSID\\" + classText;
    const AtExit removeKeys([&] {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, driverKey.c_str());
        RegDeleteTreeA(HKEY_CLASSES_ROOT, classKey.c_str());
    });
    writeText(HKEY_LOCAL_MACHINE, driverKey, "CLSID", classText);
    writeText(HKEY_LOCAL_MACHINE, driverKey, "Description", "Missing Driver");
    writeText(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", nullptr,
              "C:\\no such folder\\missing_driver.dll");

    DriverCatalog catalog;
    const std::vector<std::string> names = listedNames(catalog);
    EXPECT_EQ(std::count(names.begin(), names.end(), "Missing Driver"), 0);
    EXPECT_EQ(catalog.GetCount(), countBefore);
    IASIO* driver = openSimulator(catalog);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(initialise(*driver), ASIOTrue);
}

// The host side of a measurement: a one-buffer pulse on every output at the first switch, and
// the first input sample above half its height. The driver calls back on its own thread.
constexpr std::int32_t kPulse = 0x40000000; // half of full scale
constexpr long kGiveUpAfterSwitches = 400;

struct MeasuringHost {
    IASIO* driver = nullptr;
    std::vector<ASIOBufferInfo> channels; // inputs first
    ASIOLong bufferSize = 0;
    HANDLE done = nullptr; // set once a result is in or the host gives up

    std::atomic<long> switches{0};
    std::atomic<long> latency{-1};
    std::atomic<DWORD> callbackThread{0};
};

MeasuringHost host;

void onBufferSwitch(ASIOLong half, ASIOBool /*directProcess*/) {
    const long switchIndex = host.switches.load(std::memory_order_relaxed);
    host.callbackThread.store(GetCurrentThreadId(), std::memory_order_relaxed);
    for (std::size_t c = 0; c < host.channels.size(); ++c) {
        auto* samples = static_cast<std::int32_t*>(host.channels[c].buffers[half]);
        if (host.channels[c].isInput == ASIOFalse) {
            std::fill(samples, samples + host.bufferSize, switchIndex == 0 ? kPulse : 0);
        } else if (switchIndex > 0 && host.latency.load(std::memory_order_relaxed) < 0) {
            const auto found = std::find_if(samples, samples + host.bufferSize,
                                            [](std::int32_t s) { return s > kPulse / 2; });
            if (found != samples + host.bufferSize) {
                host.latency.store(switchIndex * host.bufferSize +
                                   static_cast<long>(found - samples));
            }
        }
    }
    host.driver->outputReady();
    host.switches.store(switchIndex + 1, std::memory_order_release);
    if (host.latency.load() >= 0 || switchIndex + 1 == kGiveUpAfterSwitches) {
        SetEvent(host.done);
    }
}

void onSampleRateChange(ASIOSampleRate) {}

ASIOLong onMessage(ASIOLong, ASIOLong, void*, double*) {
    return 0;
}

ASIOTime* onBufferSwitchTimeInfo(ASIOTime* params, ASIOLong half, ASIOBool directProcess) {
    onBufferSwitch(half, directProcess);
    return params;
}

ASIOCallbacks hostCallbacks{onBufferSwitch, onSampleRateChange, onMessage, onBufferSwitchTimeInfo};

TEST_F(InstalledSimulator, MeasuresTheCableDelayThroughTheInstalledDriver) {
    constexpr ASIOLong kDelay = 100;
    scriptSettings("delay=" + std::to_string(kDelay));
    DriverCatalog catalog;
    IASIO* driver = openSimulator(catalog);
    ASSERT_NE(driver, nullptr);
    ASSERT_EQ(initialise(*driver), ASIOTrue);

    const Channels channels = channelsOf(*driver);
    ASSERT_EQ(channels.result, ASE_OK);
    ASIOLong minSize = 0;
    ASIOLong maxSize = 0;
    ASIOLong preferred = 0;
    ASIOLong granularity = 0;
    ASSERT_EQ(driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity), ASE_OK);

    host.driver = driver;
    host.bufferSize = preferred;
    host.switches = 0;
    host.latency = -1;
    host.callbackThread = 0;
    host.channels.clear();
    const ASIOLong inputs = channels.inputs;
    const ASIOLong total = channels.inputs + channels.outputs;
    for (ASIOLong c = 0; c < total; ++c) {
        const bool isInput = c < inputs;
        host.channels.push_back({isInput ? ASIOTrue : ASIOFalse, isInput ? c : c - inputs, {}});
    }
    host.done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(host.done, nullptr);
    ASSERT_EQ(driver->createBuffers(host.channels.data(), total, preferred, &hostCallbacks),
              ASE_OK);
    ASIOChannelInfo info{};
    info.channel = 0;
    info.isInput = ASIOFalse;
    ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
    ASSERT_EQ(info.type, ASIOSTInt32LSB) << "the host writes 32-bit samples";

    ASSERT_EQ(driver->start(), ASE_OK);
    EXPECT_EQ(WaitForSingleObject(host.done, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(driver->stop(), ASE_OK);
    // Once stop has returned no callback runs any more.
    const long switchesAtStop = host.switches.load(std::memory_order_acquire);
    Sleep(50);
    EXPECT_EQ(host.switches.load(), switchesAtStop);
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    CloseHandle(host.done);

    // A pulse written at switch 0 is played during switch 1 and recorded one cable delay on.
    EXPECT_EQ(host.latency.load(), 2 * preferred + kDelay);
    EXPECT_GE(switchesAtStop, 3);
    EXPECT_NE(host.callbackThread.load(), 0u);
    EXPECT_NE(host.callbackThread.load(), GetCurrentThreadId());

    const LoadedServer server;
    EXPECT_EQ(server.canUnloadNow(), S_FALSE);
    EXPECT_EQ(catalog.CloseDriver(indexOf(catalog, kLoopbackSimName)), 0);
    EXPECT_EQ(server.canUnloadNow(), S_OK);
}

// Calls controlPanel on a thread of its own and dismisses the message box it opens, if any;
// the box's text, or none when no box came up before controlPanel returned.
std::optional<std::string> runControlPanel(IASIO& driver, ASIOError& result) {
    std::atomic<bool> returned{false};
    std::thread caller([&] {
        result = driver.controlPanel();
        returned = true;
    });
    std::optional<std::string> shown;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!returned && std::chrono::steady_clock::now() < deadline) {
        const HWND box = FindWindowA("#32770", kLoopbackSimName);
        const HWND text = box != nullptr ? GetDlgItem(box, 0xFFFF) : nullptr;
        if (!shown && text != nullptr && IsWindowVisible(box)) {
            char buffer[2048]{};
            SendMessageA(text, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
            shown = buffer;
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
        Sleep(20);
    }
    caller.join();
    return shown;
}

TEST_F(InstalledSimulator, TheControlPanelShowsTheSettingsOnlyWhenAskedTo) {
    scriptSettings("delay=77");
    DriverCatalog catalog;
    IASIO* driver = openSimulator(catalog);
    ASSERT_NE(driver, nullptr);
    ASSERT_EQ(initialise(*driver), ASIOTrue);

    ASIOError result = ASE_HWMalfunction;
    EXPECT_EQ(runControlPanel(*driver, result), std::nullopt);
    EXPECT_EQ(result, ASE_OK);

    scriptValue("ShowPanel", "1");
    result = ASE_HWMalfunction;
    const std::optional<std::string> shown = runControlPanel(*driver, result);
    EXPECT_EQ(result, ASE_OK);
    ASSERT_TRUE(shown.has_value()) << "no message box came up";
    EXPECT_NE(shown->find("delay=77"), std::string::npos) << *shown;
    EXPECT_NE(shown->find("inputs=2"), std::string::npos) << *shown;
    EXPECT_NE(shown->find("\"Settings\" of HKEY_LOCAL_MACHINE\\" + kDriverKey), std::string::npos)
        << *shown;
}

TEST_F(InstalledSimulator, TheServerFollowsTheRulesOfComServers) {
    const LoadedServer server;
    ASSERT_NE(server.module(), nullptr);
    EXPECT_EQ(server.canUnloadNow(), S_OK);

    void* object = &object;
    const CLSID otherClass{
        0x7C2E4A10, 0x3B5D, 0x4E6F, {0x80, 0x91, 0xA2, 0xB3, 0xC4, 0xD5, 0xE6, 0xF7}};
    EXPECT_EQ(server.getClassObject(otherClass, IID_IClassFactory, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);

    const auto getFactory = [&server] {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(server.getClassObject(simClassId(), IID_IClassFactory,
                                        reinterpret_cast<void**>(&factory)),
                  S_OK);
        return factory;
    };
    IClassFactory* factory = getFactory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(server.canUnloadNow(), S_FALSE) << "a held factory keeps the DLL";

    object = &object;
    EXPECT_EQ(factory->CreateInstance(factory, simClassId(), &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    object = &object;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);

    IASIO* driver = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, simClassId(), reinterpret_cast<void**>(&driver)),
              S_OK);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(server.canUnloadNow(), S_FALSE) << "a live driver object keeps the DLL";
    driver->Release();
    EXPECT_EQ(server.canUnloadNow(), S_FALSE) << "a lock keeps the DLL";

    factory = getFactory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();
    EXPECT_EQ(server.canUnloadNow(), S_OK);
}

} // namespace
