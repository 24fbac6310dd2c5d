#pragma once
// The drivers tarvelo-cli can open, installed where the catalog finds them, all in this one
// place: on Linux the loopback simulator (with --sim's settings) and the JACK driver, in an
// in-memory registry; on Windows the machine's registry and COM as they are.

#include "cli/run.h"

#include <functional>

// Runs `run` with the drivers installed and the hooks they bring, and returns its exit code.
// --sim-help is answered here, and simulator settings it cannot read are refused (exit 2).
int withInstalledDrivers(const CliOptions& options,
                         const std::function<int(const DriverHooks&)>& run);
