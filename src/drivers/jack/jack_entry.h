#pragma once
// The JACK driver in the list of drivers: its options (--jack-in, --jack-out, --jack-channels,
// --jack-name), the check that a server runs and has the ports named, made before the driver
// is opened, and the server's xruns after a result. Its notices go to standard error as
// "[jack] ...".

#include "drivers/kit/driver_entry.h"

kit::DriverEntry jackDriverEntry();
