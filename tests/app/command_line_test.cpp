#include "app/command_line.h"

#include <gtest/gtest.h>

namespace {

constexpr OptionSpec kWithShort[] = {flag("--help", "-h"), flag("--json"), with_values("--base", 1),
                                     with_values("--diff", 2)};
constexpr OptionSpec kLongOnly[] = {flag("--json"), with_values("--record", 1)};

struct Case {
    const char* what;
    std::span<const OptionSpec> options;
    std::vector<std::string> arguments;
    bool accepted;
    std::vector<std::string> positional;
    std::map<std::string_view, std::vector<std::string>> values;
};

TEST(CommandLine, TakesOptionsAnywhereAndRefusesWhatItCannotRead) {
    const std::vector<Case> cases = {
        {"options between positional words",
         kLongOnly,
         {"a", "--json", "b"},
         true,
         {"a", "b"},
         {{"--json", {}}}},
        {"-- ends the options", kLongOnly, {"--", "--json", "-x"}, true, {"--json", "-x"}, {}},
        {"a value",
         kLongOnly,
         {"--record", "r.jsonl", "a"},
         true,
         {"a"},
         {{"--record", {"r.jsonl"}}}},
        {"several values",
         kWithShort,
         {"--diff", "a", "b", "c"},
         true,
         {"c"},
         {{"--diff", {"a", "b"}}}},
        {"a flag twice", kLongOnly, {"--json", "--json"}, true, {}, {{"--json", {}}}},
        {"a short name", kWithShort, {"-h"}, true, {}, {{"--help", {}}}},
        {"a lone dash is a word", kWithShort, {"-"}, true, {"-"}, {}},
        {"dash words where no option is short", kLongOnly, {"-x"}, true, {"-x"}, {}},
        {"an unknown option", kLongOnly, {"--jsn"}, false, {}, {}},
        {"an unknown short option", kWithShort, {"-x"}, false, {}, {}},
        {"a missing value", kLongOnly, {"a", "--record"}, false, {}, {}},
        {"too few values", kWithShort, {"--diff", "a"}, false, {}, {}},
        {"an option taken for a value", kLongOnly, {"--record", "--json"}, false, {}, {}},
        {"a value option twice", kLongOnly, {"--record", "a", "--record", "b"}, false, {}, {}},
    };
    for (const Case& c : cases) {
        const std::optional<ParsedArguments> parsed = parse_arguments(c.arguments, c.options);
        ASSERT_EQ(parsed.has_value(), c.accepted) << c.what;
        if (!parsed) {
            continue;
        }
        EXPECT_EQ(parsed->positional, c.positional) << c.what;
        EXPECT_EQ(parsed->options, c.values) << c.what;
    }
}

} // namespace
