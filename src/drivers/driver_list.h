#pragma once
// The drivers of ours a program offers, in the order the catalog lists them once installed
// (memory_install.h). Adding a driver is its folder, which defines its entry
// (kit/driver_entry.h), and one line in driver_list.cpp. On Windows the list is empty: drivers
// there are installed by their own installers, in the real registry.
//
// A program has the list it links: tarvelo-cli links tarvelo_driver_list (driver_list.cpp); a
// test may link one of its own.

#include "drivers/kit/driver_entry.h"

#include <vector>

const std::vector<kit::DriverEntry>& driverList();
