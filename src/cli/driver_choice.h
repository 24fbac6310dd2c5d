#pragma once
// Which driver a run measures: the catalog's names as the driver list shows them, --driver
// matched against them, and the chosen driver opened.

#include "catalog/driver_catalog.h"
#include "cli/run.h"

#include <string>
#include <vector>

std::vector<std::string> driverNames(const DriverCatalog& catalog);

// The position of the driver numbered by `wanted`, named by it in any case, or named by a part
// of it that matches one driver only; -1 and the reason otherwise.
int findDriver(const std::vector<std::string>& drivers, const std::string& wanted,
               std::string& why);

// Opens the driver at `index` for the run, named `name` in its report: 0, or the exit code with
// the reason said.
int openDriver(Run& run, int index, const std::string& name);
