#include "cli/driver_options.h"

#include "drivers/driver_list.h"
#include "drivers/memory_install.h"

#include <CLI/CLI.hpp>

#include <cstdio>

void addDriverOptions(CLI::App& app, kit::OptionValues& values,
                      const std::vector<CLI::Option*>& helpExcludes) {
    for (const kit::DriverEntry& entry : driverList()) {
        for (const kit::DriverOption& option : entry.options) {
            const std::string& name = option.name;
            CLI::Option* added = nullptr;
            switch (option.kind) {
            case kit::DriverOption::Kind::Help:
                added = app.add_flag_callback(
                    name, [&values, name] { values[name].emplace_back(); }, option.description);
                for (CLI::Option* excluded : helpExcludes) {
                    added->excludes(excluded);
                }
                continue;
            case kit::DriverOption::Kind::Value:
                added = app.add_option_function<std::string>(
                    name, [&values, name](const std::string& value) { values[name] = {value}; },
                    option.description);
                break;
            case kit::DriverOption::Kind::Values:
                added = app.add_option_function<std::vector<std::string>>(
                    name,
                    [&values, name](const std::vector<std::string>& given) {
                        values[name] = given;
                    },
                    option.description);
                break;
            }
            added->type_name(option.valueName);
            if (option.check) {
                added->check(option.check);
            }
        }
    }
}

std::optional<int> ListedDrivers::setUp(const kit::OptionValues& values) {
    for (const kit::DriverEntry& entry : driverList()) {
        for (const kit::DriverOption& option : entry.options) {
            if (option.kind == kit::DriverOption::Kind::Help && values.contains(option.name)) {
                std::printf("%s\n", option.help().c_str());
                return kExitMeasured;
            }
        }
    }
    for (const kit::DriverEntry& entry : driverList()) {
        kit::OptionValues own;
        std::string given;
        for (const kit::DriverOption& option : entry.options) {
            if (const auto value = values.find(option.name); value != values.end()) {
                own.insert(*value);
                given = option.name;
            }
        }
        std::string error;
        kit::DriverSetup setup = entry.configure(own, error);
        if (!error.empty()) {
            std::fprintf(stderr, "tarvelo-cli: %s\n", error.c_str());
            return kExitBadInput;
        }
        m_drivers.push_back({&entry, std::move(setup), given});
    }
    return std::nullopt;
}

void ListedDrivers::install(platform::MemoryPlatform& registry,
                            const std::string& serverPath) const {
    for (const Listed& listed : m_drivers) {
        installMemoryDriver(registry, listed.entry->name, listed.entry->classId,
                            listed.setup.create, serverPath);
    }
}

DriverHooks ListedDrivers::hooks() {
    return {[this](const std::string& driverName) { return beforeOpen(driverName); },
            [this](IASIO* driver) {
                return m_opened != nullptr && m_opened->setup.afterResult
                           ? m_opened->setup.afterResult(driver)
                           : kit::DriverAccount{};
            }};
}

int ListedDrivers::beforeOpen(const std::string& driverName) {
    for (const Listed& listed : m_drivers) {
        if (listed.entry->name == driverName) {
            m_opened = &listed;
        } else if (!listed.givenOption.empty()) {
            std::fprintf(stderr, "tarvelo-cli: %s applies to the %s driver only\n",
                         listed.givenOption.c_str(), listed.entry->name.c_str());
            return kExitBadInput;
        }
    }
    if (m_opened == nullptr || !m_opened->setup.checkBeforeOpen) {
        return 0;
    }
    const std::optional<kit::Unready> unready = m_opened->setup.checkBeforeOpen();
    if (!unready) {
        return 0;
    }
    std::fprintf(stderr, "tarvelo-cli: %s\n", unready->message.c_str());
    return unready->cause == kit::Unready::Cause::BadInput ? kExitBadInput : kExitNotMeasured;
}
