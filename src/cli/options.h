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
    std::optional<int> reopen; // measurements, each on a stream opened afresh
    bool reopenDriver = false; // and the driver too
    bool watch = false;
    std::optional<double> duration; // of a watch, in seconds of stream time; none: until Ctrl-C
    bool sweep = false;
    std::vector<double> sweepRates; // empty: every rate the driver offers
    std::vector<int> sweepSizes;    // empty: every size it offers at each rate
    // The channels measured with, each a number or a part of the driver's name for it; empty:
    // every channel.
    std::vector<std::string> outputs;
    std::vector<std::string> inputs;
    bool matrix = false;
    ReportFormat format = ReportFormat::Text;
    std::string outputFile;                  // empty: the report goes to standard output
    std::string wavFile;                     // empty: none
    std::string plotFile;                    // empty: none
    bool quiet = false;                      // no progress line either
    bool verbose = false;                    // notices of what the driver did on the way
    std::optional<double> maxLatencySeconds; // the correlation method's longest round trip
    // The values of the listed drivers' own options, by option name (driver_options.h).
    std::map<std::string, std::vector<std::string>> driverOptions;
};

// Fills `options` from the command line. None to go on; otherwise the program's exit code, once
// --help or --version has been answered or a bad option said in one line.
std::optional<int> parseOptions(int argc, char** argv, CliOptions& options);
