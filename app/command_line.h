#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The option rules both tools share. Options may stand anywhere up to "--";
// what follows it, and every word that is no option, is positional. A word
// starting with "--" is an option, and so is a short name a tool gives one
// ("-h"); any other word starting with "-" is positional ("-1" is an
// identifier). An option's values are the next words that are no option, so
// that "--diff --json A B" reads as "--json --diff A B"; a mistyped option is
// never taken for a file.
struct OptionSpec {
    std::string_view name;      // "--record"
    std::string_view shortName; // "-h", or empty
    std::size_t valueCount = 0; // the words it takes after it
};

constexpr OptionSpec flag(std::string_view name, std::string_view shortName = {}) {
    return {name, shortName, 0};
}

constexpr OptionSpec with_values(std::string_view name, std::size_t valueCount) {
    return {name, {}, valueCount};
}

struct ParsedArguments {
    std::map<std::string_view, std::vector<std::string>> options; // by name: its values
    std::vector<std::string> positional;
    // Why the command line cannot be taken ("unknown option --jsn"); empty when it can.
    std::string refusal;
    // The words named --json, even on a command line that is refused: its
    // refusal is then printed as JSON too.
    bool asksForJson = false;

    bool has(std::string_view name) const { return options.contains(name); }
    // The option's values, or nothing when it was not given.
    std::optional<std::vector<std::string>> values_of(std::string_view name) const;
    std::optional<std::string> value_of(std::string_view name) const;
};

// Says why a command line cannot be taken on standard error (when there is a
// reason to give), then prints the usage on standard output, or with --json the
// usage error document; returns the status, 1.
int refuse_command_line(std::string_view refusal, std::string_view usage, bool json);

// Refused when a word names no option, an option lacks a value, or an option
// with values is given twice.
ParsedArguments parse_arguments(std::span<const std::string> arguments,
                                std::span<const OptionSpec> options);
