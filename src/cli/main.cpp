// tarvelo-cli: the main dialog on the headless surface, driven as a user's clicks would drive
// it. Status texts and message boxes go to standard error as they happen; each measurement's
// result goes to standard output.

#include "cli/measure_session.h"
#include "tarvelo_version.h"

#if !defined(_WIN32)
#include "drivers/jack/jack_settings.h"
#endif

#include <CLI/CLI.hpp>

#include <cstdio>

int main(int argc, char** argv) {
    SessionOptions options;
    CLI::App app{"Measures the round-trip latency of an audio interface through its ASIO driver.",
                 "tarvelo-cli"};
    app.set_version_flag("--version", "tarvelo-cli " TARVELO_VERSION);
    app.add_flag("-l,--list", options.listDrivers, "List the installed drivers and exit");
    app.add_option("-d,--driver", options.driver,
                   "Driver by name or by position in the list (default: " +
                       std::string(kDefaultDriverName) + ")");
    app.add_option("-r,--rate", options.sampleRate, "Sample rate in Hz, one the driver offers");
    app.add_option("-b,--buffer-size", options.bufferSize,
                   "Buffer size in samples, one the driver offers");
    app.add_option("-s,--sensitivity", options.sensitivity,
                   "Input sensitivity: -24, -18, -12 (default) or -6 dB");
    app.add_option("-n,--count", options.count, "Measurements in a row (default 1)")
        ->check(CLI::Range(1, 1000));
    app.add_option("-m,--method", options.method,
                   "threshold (default: the dialog's pulse and threshold) or correlation (a "
                   "sweep, found between samples, with polarity, confidence and diagnoses)")
        ->check(CLI::IsMember({"threshold", "correlation"}));
#if !defined(_WIN32)
    app.add_option("--sim", options.simSettings,
                   "Settings of the built-in loopback simulator, key=value[,key=value...]; "
                   "--sim-help lists them");
    app.add_flag("--sim-help", options.simHelp, "Describe the simulator's settings and exit");
    app.add_option("--jack-in", options.jackInputs,
                   "JACK driver: the port an input reads from, one per channel in order "
                   "(default: the first physical capture port)");
    app.add_option("--jack-out", options.jackOutputs,
                   "JACK driver: the port an output feeds, one per channel in order "
                   "(default: the first physical playback port)");
    app.add_option("--jack-channels", options.jackChannels,
                   "JACK driver: input and output ports each (default: 2, or as many as named)")
        ->check(CLI::Range(1, kMaxJackChannels));
    app.add_option("--jack-name", options.jackName,
                   "JACK driver: the client's name, which its ports carry (default: tarvelo)")
        ->check([](const std::string& name) { return name.empty() ? "a name is needed" : ""; });
#endif
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) { // --help or --version
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "tarvelo-cli: %s (see --help)\n", e.what());
        return kExitBadInput;
    }
    return RunSession(options);
}
