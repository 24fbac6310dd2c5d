#include "cli/option_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

namespace {

constexpr char kSeeHelp[] = " (see --help)";

// Options of the drivers that tarvelo-cli holds on Linux only, which Windows users read of too.
struct ElsewhereOption {
    const char* prefix;
    const char* why;
};
#if defined(_WIN32)
constexpr std::array kElsewhere{
    ElsewhereOption{
        "--sim",
        "the built-in loopback simulator is part of tarvelo-cli on Linux only; on Windows, install "
        "the simulator driver (an option of Tarvelo's installer), set it up in its registry value "
        "Settings and pick it with --driver"},
    ElsewhereOption{"--jack-", "the JACK driver is part of tarvelo-cli on Linux only"},
};
#else
constexpr std::array<ElsewhereOption, 0> kElsewhere{};
#endif

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) {
        text += (text.empty() ? "" : ", ") + word;
    }
    return text;
}

std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::vector<std::string> optionNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::Option* option : app.get_options()) {
        for (const std::string& name : option->get_lnames()) {
            names.push_back("--" + name);
        }
        for (const std::string& name : option->get_snames()) {
            names.push_back("-" + name);
        }
    }
    return names;
}

std::string unexpectedArguments(const CLI::App& app) {
    const std::vector<std::string> extras = app.remaining();
    const auto option = std::find_if(extras.begin(), extras.end(), [](const std::string& word) {
        return word.size() > 1 && word[0] == '-';
    });
    if (option == extras.end()) {
        return (extras.empty() ? "unexpected argument"
                               : "unexpected argument '" + extras.front() + "'") +
               kSeeHelp;
    }
    const std::string name = option->substr(0, option->find('='));
    for (const ElsewhereOption& elsewhere : kElsewhere) {
        if (name.starts_with(elsewhere.prefix)) {
            return name + ": " + elsewhere.why;
        }
    }
    // One letter after a single dash is too short to guess from.
    const std::string nearest = name.starts_with("--") ? nearestOption(name, optionNames(app)) : "";
    if (nearest.empty()) {
        return "unknown option " + name + kSeeHelp;
    }
    return "unknown option " + name + "; did you mean " + nearest + "?";
}

} // namespace

std::string PlainHelp::make_option_opts(const CLI::Option* option) const {
    if (option->get_type_size() == 0) {
        return {};
    }
    return " " + option->get_type_name();
}

CLI::Validator oneOfMapped(std::vector<std::pair<std::string, std::string>> namesToValues) {
    std::vector<std::string> names;
    for (const auto& entry : namesToValues) {
        names.push_back(entry.first);
    }
    return CLI::Validator(
        [namesToValues = std::move(namesToValues), valid = joined(names)](std::string& given) {
            const std::string name = lowered(given);
            for (const auto& [known, value] : namesToValues) {
                if (name == known) {
                    given = value;
                    return std::string();
                }
            }
            return "unknown value '" + given + "'; valid: " + valid;
        },
        "");
}

CLI::Validator oneOf(const std::vector<std::string>& names) {
    std::vector<std::pair<std::string, std::string>> same;
    for (const std::string& name : names) {
        same.emplace_back(name, name);
    }
    return oneOfMapped(std::move(same));
}

CLI::Validator wholeNumberFrom(long lowest, long highest) {
    return CLI::Validator(
        [lowest, highest](std::string& given) {
            long value = 0;
            const auto [end, error] =
                std::from_chars(given.data(), given.data() + given.size(), value);
            if (error == std::errc() && end == given.data() + given.size() && value >= lowest &&
                value <= highest) {
                return std::string();
            }
            return "'" + given + "' is not a whole number from " + std::to_string(lowest) + " to " +
                   std::to_string(highest);
        },
        "");
}

CLI::Validator fileNameEnding(const std::string& extension) {
    return CLI::Validator(
        [extension](std::string& given) {
            if (given == "-" || lowered(given).ends_with(extension)) { // - : standard output
                return std::string();
            }
            return "'" + given + "' does not end in " + extension + ", the one format written";
        },
        "");
}

std::string nearestOption(const std::string& typed, const std::vector<std::string>& known) {
    // A typo changes a letter or two (a quarter of a long name), not the word.
    std::size_t best = std::max<std::size_t>(2, typed.size() / 4) + 1;
    std::string nearest;
    for (const std::string& name : known) {
        if (const std::size_t distance = editDistance(lowered(typed), name); distance < best) {
            best = distance;
            nearest = name;
        }
    }
    return nearest;
}

std::string describeParseError(const CLI::App& app, const CLI::ParseError& error) {
    const std::string what = error.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
        return unexpectedArguments(app);
    }
    // CLI11's own words: "Could not convert: --rate = abc", "--rate: 1 required FLOAT missing".
    const std::string convert = "Could not convert: ";
    const std::size_t equals = what.find(" = ");
    if (dynamic_cast<const CLI::ConversionError*>(&error) != nullptr && what.starts_with(convert) &&
        equals != std::string::npos) {
        return what.substr(convert.size(), equals - convert.size()) + ": '" +
               what.substr(equals + 3) + "' is not a number" + kSeeHelp;
    }
    const std::size_t colon = what.find(": ");
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr &&
        what.ends_with(" missing") && colon != std::string::npos) {
        return what.substr(0, colon) + " needs a value" + kSeeHelp;
    }
    return what + kSeeHelp;
}
