// tarvelo-cli: measures the round-trip latency of an audio interface through its driver, on a
// measurement session of its own. Results go to standard output, as text, JSON or CSV, with WAV
// and SVG files on request; what went wrong goes to standard error, one line each.

#include "cli/options.h"
#include "cli/run.h"

int main(int argc, char** argv) {
    CliOptions options;
    if (const std::optional<int> exitCode = parseOptions(argc, argv, options)) {
        return *exitCode;
    }
    return runCli(options);
}
