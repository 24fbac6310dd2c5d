#pragma once
// The channels a run measures with: --output and --input matched against the driver's channel
// names as --driver is against the driver list, and the session told to use them.

#include "cli/run.h"

// Reads the driver's channel names into the report and selects the chosen channels: 0, or the
// exit code with the reason said and the driver's channels of that kind listed.
int chooseChannels(Run& run);
