#pragma once
// Readable names for the driver's sample types and result codes, for messages, logs and test
// failures. What each type means in memory lives in engine/sample_format.h.

#include "asio/asio.h"

// The name a driver's documentation would use, e.g. "Int32LSB"; "unknown (N)" is not produced
// here, callers print the number themselves for types outside the table.
const char* describeSampleType(ASIOSampleType type);

// A short name for a driver result code ("ASE_OK", "ASE_NotPresent", ...); null when unknown.
const char* describeError(ASIOError error);
