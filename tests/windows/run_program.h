#pragma once
// Runs another program of the Wine session to its end, as the Windows tests run regsvr32, reg
// and the programs under test.

#include <windows.h>

#include <algorithm>
#include <string>

// A Linux path as Wine's programs see it: drive Z: is the root of the file system.
inline std::string windowsPath(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

inline std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// Runs `commandLine` without a window, its standard output going to `outputFile` when one is
// named, and its standard error to `errorFile`, or to the same file when none is named. Its exit
// code, or -1 when it did not start or did not end within two minutes.
inline long runProgram(std::string commandLine, const std::string& outputFile = {},
                       const std::string& errorFile = {}) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const auto open = [&](const std::string& path) {
        return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!outputFile.empty()) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = open(outputFile);
        startup.hStdError = errorFile.empty() ? startup.hStdOutput : open(errorFile);
    }
    PROCESS_INFORMATION process{};
    const bool started =
        CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, !outputFile.empty(),
                       CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    if (!outputFile.empty()) {
        CloseHandle(startup.hStdOutput);
    }
    if (!errorFile.empty()) {
        CloseHandle(startup.hStdError);
    }
    if (!started) {
        return -1;
    }
    DWORD exitCode = 0;
    const bool ended = WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended ? static_cast<long>(exitCode) : -1;
}
