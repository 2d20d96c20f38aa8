#include "app/command_line.h"

#include <gtest/gtest.h>

namespace {

constexpr OptionSpec kOptions[] = {flag("--help", "-h"), flag("--json"), with_values("--base", 1),
                                   with_values("--diff", 2)};

struct Case {
    const char* what;
    std::vector<std::string> arguments;
    std::string refusal; // empty when the command line is taken
    std::vector<std::string> positional;
    std::map<std::string_view, std::vector<std::string>> values;
};

TEST(CommandLine, TakesOptionsAnywhereAndSaysWhyItRefusesOne) {
    const std::vector<Case> cases = {
        {"options between positional words",
         {"a", "--json", "b"},
         "",
         {"a", "b"},
         {{"--json", {}}}},
        {"-- ends the options", {"--", "--json", "-h"}, "", {"--json", "-h"}, {}},
        {"a value", {"--base", "b.fwb", "a"}, "", {"a"}, {{"--base", {"b.fwb"}}}},
        {"values past an option",
         {"--diff", "--json", "a", "b", "c"},
         "",
         {"c"},
         {{"--diff", {"a", "b"}}, {"--json", {}}}},
        {"a flag twice", {"--json", "--json"}, "", {}, {{"--json", {}}}},
        {"a short name", {"-h"}, "", {}, {{"--help", {}}}},
        {"other dash words are positional", {"-", "-1", "-x"}, "", {"-", "-1", "-x"}, {}},
        {"an unknown option", {"a", "--jsn"}, "unknown option --jsn", {"a"}, {}},
        {"a missing value", {"a", "--base"}, "option --base needs a value", {"a"}, {}},
        {"too few values", {"--diff", "a"}, "option --diff needs 2 values", {}, {}},
        {"no value after --", {"--base", "--", "b"}, "option --base needs a value", {"b"}, {}},
        {"a value option twice",
         {"--base", "a", "--base", "b"},
         "option --base is given twice",
         {},
         {{"--base", {"a"}}}},
    };
    for (const Case& c : cases) {
        const ParsedArguments parsed = parse_arguments(c.arguments, kOptions);
        EXPECT_EQ(parsed.refusal, c.refusal) << c.what;
        EXPECT_EQ(parsed.positional, c.positional) << c.what;
        EXPECT_EQ(parsed.options, c.values) << c.what;
    }
}

TEST(CommandLine, NotesJsonEvenOnACommandLineItRefuses) {
    const std::vector<std::string> arguments = {"--bogus", "--json"};
    const ParsedArguments parsed = parse_arguments(arguments, kOptions);
    EXPECT_EQ(parsed.refusal, "unknown option --bogus");
    EXPECT_TRUE(parsed.asksForJson);
}

} // namespace
