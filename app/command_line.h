#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The option rules both tools share. Options may stand anywhere up to "--";
// what follows it, and every word that is no option, is positional. A word
// starting with "--" is an option, and so is one starting with "-" in a tool
// that names short options. An option's values are the words after it, none
// of which may start with "--": a mistyped option is not taken for a file.
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

    bool has(std::string_view name) const { return options.contains(name); }
    // The option's values, or nothing when it was not given.
    std::optional<std::vector<std::string>> values_of(std::string_view name) const;
    std::optional<std::string> value_of(std::string_view name) const;
};

// Nothing when a word names no option, an option lacks a value, or an option
// with values is given twice.
std::optional<ParsedArguments> parse_arguments(std::span<const std::string> arguments,
                                               std::span<const OptionSpec> options);
