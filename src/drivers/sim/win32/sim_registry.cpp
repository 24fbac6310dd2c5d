#include "drivers/sim/win32/sim_registry.h"

#include "drivers/sim/loopback_sim.h"

#include <windows.h>

#include <cstring>
#include <utility>

namespace {

constexpr const char* kSettingsValue = "Settings";
constexpr const char* kShowPanelValue = "ShowPanel";
constexpr const char* kCrashOnUnloadValue = "CrashOnUnload";
// Tells COM that the object may live in any apartment: the simulator takes calls from any
// thread, and a host in a multithreaded apartment could not reach an "Apartment" object,
// since nothing marshals this interface.
constexpr const char* kThreadingModel = "Both";

std::string classKeyPath() {
    return std::string("CLSID\\") + kLoopbackSimClassIdText;
}

// The registration's keys are plain ASCII.
std::wstring widened(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

LSTATUS setText(HKEY root, const std::string& path, const char* name, const std::string& text) {
    return RegSetKeyValueA(root, path.c_str(), name, REG_SZ, text.c_str(),
                           static_cast<DWORD>(text.size() + 1));
}

// The path goes in as wide text, so that a folder name outside the ANSI code page survives.
LSTATUS setServerPath(const std::string& path, const std::wstring& serverPath) {
    return RegSetKeyValueW(HKEY_CLASSES_ROOT, widened(path).c_str(), nullptr, REG_SZ,
                           serverPath.c_str(),
                           static_cast<DWORD>((serverPath.size() + 1) * sizeof(wchar_t)));
}

// The class first, so that a host scanning meanwhile never finds a driver key without it.
LSTATUS writeRegistration(const std::wstring& serverPath) {
    const std::string classKey = classKeyPath();
    const std::string serverKey = classKey + "\\InprocServer32";
    const std::string driverKey = simDriverKeyPath();
    LSTATUS status = setText(HKEY_CLASSES_ROOT, classKey, nullptr, kLoopbackSimName);
    if (status == ERROR_SUCCESS) {
        status = setServerPath(serverKey, serverPath);
    }
    if (status == ERROR_SUCCESS) {
        status = setText(HKEY_CLASSES_ROOT, serverKey, "ThreadingModel", kThreadingModel);
    }
    if (status == ERROR_SUCCESS) {
        status = setText(HKEY_LOCAL_MACHINE, driverKey, "CLSID", kLoopbackSimClassIdText);
    }
    if (status == ERROR_SUCCESS) {
        status = setText(HKEY_LOCAL_MACHINE, driverKey, "Description", kLoopbackSimName);
    }
    return status;
}

// Whether the driver key's text value `name` is "1".
bool isSwitchedOn(const char* name) {
    char value[4]{};
    DWORD size = sizeof value;
    return RegGetValueA(HKEY_LOCAL_MACHINE, simDriverKeyPath().c_str(), name, RRF_RT_REG_SZ,
                        nullptr, value, &size) == ERROR_SUCCESS &&
           std::strcmp(value, "1") == 0;
}

std::string describeReadFailure(LSTATUS status) {
    if (status == ERROR_UNSUPPORTED_TYPE) {
        return "the registry value is not text (REG_SZ)";
    }
    return "the registry value cannot be read (error " + std::to_string(status) + ")";
}

} // namespace

std::string simDriverKeyPath() {
    return std::string("SOFTWARE\\ASIO\\") + kLoopbackSimName;
}

bool readSettingsText(std::string& text, std::string& error) {
    const std::string path = simDriverKeyPath();
    LSTATUS status = ERROR_MORE_DATA;
    // A second round only when the value grew between the two calls.
    while (status == ERROR_MORE_DATA) {
        DWORD size = 0;
        status = RegGetValueA(HKEY_LOCAL_MACHINE, path.c_str(), kSettingsValue, RRF_RT_REG_SZ,
                              nullptr, nullptr, &size);
        if (status == ERROR_FILE_NOT_FOUND) {
            text.clear();
            return true;
        }
        if (status != ERROR_SUCCESS) {
            break;
        }
        std::string buffer(size + 1, '\0');
        size = static_cast<DWORD>(buffer.size());
        status = RegGetValueA(HKEY_LOCAL_MACHINE, path.c_str(), kSettingsValue, RRF_RT_REG_SZ,
                              nullptr, buffer.data(), &size);
        if (status == ERROR_SUCCESS) {
            text = buffer.c_str();
            return true;
        }
    }
    error = describeReadFailure(status);
    return false;
}

bool isPanelEnabled() {
    return isSwitchedOn(kShowPanelValue);
}

bool isCrashOnUnloadRequested() {
    return isSwitchedOn(kCrashOnUnloadValue);
}

long registerSimServer(const std::wstring& serverPath) {
    const LSTATUS status = writeRegistration(serverPath);
    if (status != ERROR_SUCCESS) {
        unregisterSimServer();
    }
    return status;
}

long unregisterSimServer() {
    LSTATUS result = ERROR_SUCCESS;
    const std::pair<HKEY, std::string> keys[] = {{HKEY_LOCAL_MACHINE, simDriverKeyPath()},
                                                 {HKEY_CLASSES_ROOT, classKeyPath()}};
    for (const auto& [root, path] : keys) {
        const LSTATUS status = RegDeleteTreeA(root, path.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && result == ERROR_SUCCESS) {
            result = status;
        }
    }
    return result;
}
