#pragma once
// tarvelo-cli's command line: the options as values, and their parsing.

#include <map>
#include <optional>
#include <string>
#include <vector>

inline constexpr char kDefaultDriverName[] = "Tarvelo Loopback Simulator";

enum class ReportFormat { Text, Json, Csv };

struct CliOptions {
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
    // The channels measured with, each a number or a part of the driver's name for it; empty:
    // every channel.
    std::vector<std::string> outputs;
    std::vector<std::string> inputs;
    bool matrix = false;
    ReportFormat format = ReportFormat::Text;
    std::string wavFile;  // empty: none
    std::string plotFile; // empty: none
    bool quiet = false;
    // The values of the listed drivers' own options, by option name (driver_options.h).
    std::map<std::string, std::vector<std::string>> driverOptions;
};

// Fills `options` from the command line. None to go on; otherwise the program's exit code, once
// --help or --version has been answered or a bad option said in one line.
std::optional<int> parseOptions(int argc, char** argv, CliOptions& options);
