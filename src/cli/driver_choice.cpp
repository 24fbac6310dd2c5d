#include "cli/driver_choice.h"

#include <cctype>
#include <cstdlib>

namespace {

std::string lowered(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

} // namespace

std::vector<std::string> driverNames(const DriverCatalog& catalog) {
    std::vector<std::string> names;
    for (int index = 0; index < catalog.GetCount(); ++index) {
        char name[64];
        if (catalog.CopyName(index, name, sizeof name) == 0) {
            names.emplace_back(name);
        }
    }
    return names;
}

int findNamed(const std::vector<std::string>& names, const std::string& wanted,
              const std::string& what, std::string& why) {
    char* end = nullptr;
    const long position = std::strtol(wanted.c_str(), &end, 10);
    if (!wanted.empty() && *end == '\0') {
        if (position >= 0 && position < static_cast<long>(names.size())) {
            return static_cast<int>(position);
        }
        why = "no " + what + " at position " + wanted;
        return -1;
    }
    std::vector<int> partial;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (lowered(names[i]) == lowered(wanted)) {
            return static_cast<int>(i);
        }
        if (!wanted.empty() && lowered(names[i]).find(lowered(wanted)) != std::string::npos) {
            partial.push_back(static_cast<int>(i));
        }
    }
    if (partial.size() == 1) {
        return partial.front();
    }
    if (partial.size() > 1) {
        why = "'" + wanted + "' matches several " + what + "s:";
        for (int i : partial) {
            why += " " + std::to_string(i) + " \"" + names[static_cast<std::size_t>(i)] + "\"";
        }
        return -1;
    }
    why = "unknown " + what + " '" + wanted + "'";
    return -1;
}

std::string numberedNames(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i ? ", " : "") + std::to_string(i) + " \"" + names[i] + "\"";
    }
    return text;
}

int openDriver(Run& run, int index, const std::string& name) {
    switch (run.session.open(index)) {
    case OpenResult::Opened:
        run.report.driver = name;
        return 0;
    case OpenResult::NotCreated:
        run.console.error("the driver \"" + name + "\" could not be created");
        return kExitNotMeasured;
    case OpenResult::NotInitialised:
    case OpenResult::NoMemory:
        break;
    }
    const std::string& why = run.session.driverMessage();
    run.console.error("the driver \"" + name + "\" did not start up" +
                      (why.empty() ? std::string(" (it gives no reason)") : ": " + why));
    return kExitNotMeasured;
}
