#pragma once
// A user's Ctrl-C or a termination request (SIGINT, SIGTERM; on Windows Ctrl-C, Ctrl-Break and
// closing the console) while tarvelo-cli runs. The handler only records which came; the run
// notices between the slices of its waits, stops the measurement, releases the driver, reports
// what was measured and exits as shells expect (128 + the signal's number).

#include <string>

// Handles interruptions from now until the guard is destroyed.
class InterruptionGuard {
public:
    InterruptionGuard();
    ~InterruptionGuard();
    InterruptionGuard(const InterruptionGuard&) = delete;
    InterruptionGuard& operator=(const InterruptionGuard&) = delete;
};

// The signal that interrupted the run (SIGINT or SIGTERM), or 0.
int interruption();

// What a report says of it, e.g. "interrupted by SIGINT".
std::string interruptionText(int signal);
