#pragma once
// tarvelo-cli's command line: the options as values, and their parsing.

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
    ReportFormat format = ReportFormat::Text;
    std::string wavFile;  // empty: none
    std::string plotFile; // empty: none
    bool quiet = false;
    std::string simSettings;
    bool simHelp = false;
    // The JACK driver (Linux): --jack-in, --jack-out, --jack-channels, --jack-name.
    std::vector<std::string> jackInputs;
    std::vector<std::string> jackOutputs;
    std::optional<int> jackChannels;
    std::optional<std::string> jackName;
};

// Fills `options` from the command line. None to go on; otherwise the program's exit code, once
// --help or --version has been answered or a bad option said in one line.
std::optional<int> parseOptions(int argc, char** argv, CliOptions& options);
