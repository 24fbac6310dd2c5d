#pragma once
// A run's report on standard output in the format asked for, and the WAV and SVG files.

#include "cli/run.h"

// The exit code the writing leaves: 1 when a file could not be written, its reason said.
int writeReport(Run& run, const DriverHooks& hooks);
