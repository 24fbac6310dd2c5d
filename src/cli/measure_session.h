#pragma once
// One run of tarvelo-cli: opens the chosen driver through the main dialog and measures.

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct IASIO;

inline constexpr int kExitMeasured = 0;
inline constexpr int kExitNotMeasured = 1;
inline constexpr int kExitBadInput = 2;

inline constexpr char kDefaultDriverName[] = "Tarvelo Loopback Simulator";

struct SessionOptions {
    bool listDrivers = false;
    std::optional<std::string> driver;
    std::optional<double> sampleRate;
    std::optional<int> bufferSize;
    std::optional<std::string> sensitivity;
    int count = 1;
    std::string method = "threshold";
    std::string simSettings;
    bool simHelp = false;
    // The JACK driver (Linux): --jack-in, --jack-out, --jack-channels, --jack-name.
    std::vector<std::string> jackInputs;
    std::vector<std::string> jackOutputs;
    std::optional<int> jackChannels;
    std::optional<std::string> jackName;
};

// What a platform adds around the dialog for the drivers it installs.
struct DriverHooks {
    // Before the named driver is opened: 0 to go on, or the exit code, its reason printed.
    std::function<int(const std::string& driverName)> beforeOpen;
    // After each result is printed, with the driver that measured it.
    std::function<void(IASIO* driver)> afterResult;
};

int RunSession(const SessionOptions& options);
