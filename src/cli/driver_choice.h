#pragma once
// Which driver a run measures: the catalog's names as the driver list shows them, --driver
// matched against them, and the chosen driver opened.

#include "catalog/driver_catalog.h"
#include "cli/run.h"

#include <string>
#include <vector>

std::vector<std::string> driverNames(const DriverCatalog& catalog);

// The position in `names` of the `what` (a driver, an output, ...) numbered by `wanted`, named
// by it in any case, or named by a part of it that matches one name only; -1 and the reason
// otherwise.
int findNamed(const std::vector<std::string>& names, const std::string& wanted,
              const std::string& what, std::string& why);
inline int findDriver(const std::vector<std::string>& drivers, const std::string& wanted,
                      std::string& why) {
    return findNamed(drivers, wanted, "driver", why);
}

// Every name with its position, as the reasons of findNamed list them: 0 "First", 1 "Second".
std::string numberedNames(const std::vector<std::string>& names);

// Opens the driver at `index` for the run, named `name` in its report: 0, or the exit code with
// the reason said.
int openDriver(Run& run, int index, const std::string& name);
