#pragma once
// The smallest driver on the driver kit, for the tests: one input and one output of Float32LSB
// at 48000 Hz, buffers of 64 samples only, and the output looped to the input N buffers later
// (--loop-buffers, default 1): a host measures (2 + N) x 64 samples. A thread of its own runs
// bufferSwitch as soon as the host returns from the last one.
//
// Threads: the host calls it on one thread of its own, never from inside bufferSwitch; stop and
// disposeBuffers return once the switch thread has ended.

#include "drivers/kit/driver_entry.h"

kit::DriverEntry fixedLoopEntry();
