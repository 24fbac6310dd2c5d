#pragma once
// The drivers tarvelo-cli can open, installed where the catalog finds them, all in this one
// place: on Linux every driver of the list (drivers/driver_list.h) made ready from its options,
// in an in-memory registry; on Windows the machine's registry and COM as they are.

#include "cli/run.h"

#include <functional>

// Runs `run` with the drivers installed and the hooks they bring, and returns its exit code.
// A driver's help option is answered here, and values a driver refuses are said (exit 2).
int withInstalledDrivers(const CliOptions& options,
                         const std::function<int(const DriverHooks&)>& run);
