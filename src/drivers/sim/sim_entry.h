#pragma once
// The loopback simulator in the list of drivers: its settings from --sim (--sim-help describes
// them).

#include "drivers/kit/driver_entry.h"

kit::DriverEntry loopbackSimulatorEntry();
