#pragma once
// A run's report in the format asked for, on standard output or into the file asked for, and
// the WAV and SVG files.

#include "cli/run.h"

// The exit code the writing leaves: 1 when a file could not be written, its reason said.
int writeReport(Run& run);
