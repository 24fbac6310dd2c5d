#pragma once
// One run of tarvelo-cli: opens the chosen driver through the main dialog, measures once, a
// number of times or over a sweep of rates and buffer sizes, and reports.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct IASIO;

inline constexpr int kExitMeasured = 0;
inline constexpr int kExitNotMeasured = 1;
inline constexpr int kExitBadInput = 2;

inline constexpr char kDefaultDriverName[] = "Tarvelo Loopback Simulator";

enum class ReportFormat { Text, Json, Csv };

struct SessionOptions {
    bool listDrivers = false;
    std::optional<std::string> driver;
    std::optional<double> sampleRate;
    std::optional<int> bufferSize;
    std::optional<std::string> sensitivity;
    int repeat = 1;
    std::string method = "threshold";
    bool sweep = false;
    std::vector<double> sweepRates; // empty: every rate the driver offers
    std::vector<int> sweepSizes;    // empty: every size it offers at each rate
    ReportFormat format = ReportFormat::Text;
    std::string wavFile;  // empty: none
    std::string plotFile; // empty: none
    bool quiet = false;
    // The values of the listed drivers' own options, by option name (driver_options.h).
    std::map<std::string, std::vector<std::string>> driverOptions;
};

// What the listed drivers add around the dialog (driver_options.h).
struct DriverHooks {
    // Before the named driver is opened: 0 to go on, or the exit code, its reason printed.
    std::function<int(const std::string& driverName)> beforeOpen;
    // After each result is printed, with the driver that measured it.
    std::function<void(IASIO* driver)> afterResult;
};

int RunSession(const SessionOptions& options);
