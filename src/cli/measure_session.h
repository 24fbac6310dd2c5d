#pragma once
// One run of tarvelo-cli: opens the chosen driver through the main dialog and measures.

#include <optional>
#include <string>

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
};

int RunSession(const SessionOptions& options);
