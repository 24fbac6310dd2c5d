#pragma once
// The run's setup on the open driver: sample rate, buffer size, sensitivity and method, each
// checked against what the driver offers before anything is measured.

#include "cli/run.h"

#include <string>

// The list position of a sensitivity as a user writes it ("-18", "-18dB", "-18 dB"); -1 for
// none of them.
int sensitivityPosition(std::string text);

// 0, or the exit code with the reason said: a rate or size the driver does not offer is bad
// input; a rate it offers and then refuses is the driver's failure.
int chooseRate(Run& run, double rate);
int chooseBufferSize(Run& run, int size);
// The options' rate, size, sensitivity (its list position, -1 for the default) and method.
int applySetup(Run& run, int sensitivity);
