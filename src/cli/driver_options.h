#pragma once
// tarvelo-cli's side of the list of drivers (drivers/driver_list.h): every listed driver's
// options among the program's own, the drivers made ready from the values given and installed
// in the in-memory registry that the catalog scans, and the hooks around the session: the check
// a driver makes before it is opened and the lines it adds after a result.

#include "cli/run.h"
#include "drivers/kit/driver_entry.h"

#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
} // namespace CLI
namespace platform {
class MemoryPlatform;
}

// Adds the options of every listed driver to `app`, their values kept in `values`. A help
// option excludes what `helpExcludes` names, as --list does.
void addDriverOptions(CLI::App& app, kit::OptionValues& values,
                      const std::vector<CLI::Option*>& helpExcludes);

class ListedDrivers {
public:
    ListedDrivers() = default;
    ListedDrivers(const ListedDrivers&) = delete;
    ListedDrivers& operator=(const ListedDrivers&) = delete;

    // Makes every listed driver ready from the values given. An exit code when the program ends
    // here: a help option given (printed, 0), values a driver refuses (said, 2).
    std::optional<int> setUp(const kit::OptionValues& values);
    void install(platform::MemoryPlatform& registry, const std::string& serverPath) const;
    // Valid while this object lives.
    DriverHooks hooks();

private:
    struct Listed {
        const kit::DriverEntry* entry;
        kit::DriverSetup setup;
        std::string givenOption; // one of its options that was given, or ""
    };

    int beforeOpen(const std::string& driverName);

    std::vector<Listed> m_drivers;
    const Listed* m_opened = nullptr;
};
