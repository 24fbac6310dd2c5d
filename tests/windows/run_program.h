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

// Runs `commandLine` without a window, its standard output and error going to `outputFile` when
// one is named; its exit code, or -1 when it did not start or did not end within a minute.
inline long runProgram(std::string commandLine, const std::string& outputFile = {}) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!outputFile.empty()) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError =
            CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    PROCESS_INFORMATION process{};
    const bool started =
        CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, !outputFile.empty(),
                       CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    if (startup.hStdOutput != nullptr) {
        CloseHandle(startup.hStdOutput);
    }
    if (!started) {
        return -1;
    }
    DWORD exitCode = 0;
    const bool ended = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended ? static_cast<long>(exitCode) : -1;
}
