#pragma once
// What tarvelo-cli's command line says to people: its help written with option values as users
// write them, checks whose errors name the value and what is valid, and parse errors in plain
// words (a mistyped option gets the nearest real one). CLI11's own texts show its internals.

#include <CLI/CLI.hpp>

#include <string>
#include <utility>
#include <vector>

// Help lines: each option with the name of its value (`--rate HZ`), nothing of the parser.
class PlainHelp : public CLI::Formatter {
public:
    std::string make_option_opts(const CLI::Option* option) const override;
};

// A word from a fixed list, in any case, given to the option as its value (a name maps to the
// text the option parses: "json" to its enum's number). Refused with the valid words.
CLI::Validator oneOfMapped(std::vector<std::pair<std::string, std::string>> namesToValues);
CLI::Validator oneOf(const std::vector<std::string>& names);

// A whole number from `lowest` to `highest`.
CLI::Validator wholeNumberFrom(long lowest, long highest);

// A file name ending in `extension` (".svg"), in any case: the one format written.
CLI::Validator fileNameEnding(const std::string& extension);

// The one line tarvelo-cli prints for a command line it cannot take, after its name.
std::string describeParseError(const CLI::App& app, const CLI::ParseError& error);

// The option of `known` nearest to `typed` by edit distance, if near enough to be a typo.
std::string nearestOption(const std::string& typed, const std::vector<std::string>& known);
