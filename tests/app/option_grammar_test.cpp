#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kForgeUsage =
    "Usage:: fwbforge2 VID DID SVID SSID updatedata.xml output.fwb\n";
constexpr std::string_view kInspectUsage = "Usage: fwbinspect IMAGE... [--blobs] [--json]\n";

struct GrammarCase {
    const char* program;
    std::vector<std::string> args;
    int status;
    std::string_view outStart; // what standard output begins with
    std::string err;           // standard error, whole
};

class OptionGrammar : public testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"update-data.xml", "example-base.fwb"}) {
            fs::copy_file(fs::path(EXAMPLES_DIR) / name, dir / name);
        }
    }
    TempDir dir;
};

TEST_F(OptionGrammar, BothToolsTakeOptionsAlikeAndNameWhatTheyRefuse) {
    const char* forge = FWBFORGE2_PATH;
    const char* inspect = FWBINSPECT_PATH;
    const std::string forgeErr = "fwbforge2: ";
    const std::string inspectErr = "fwbinspect: ";
    const std::vector<GrammarCase> cases = {
        {forge, {"-h"}, 0, kForgeUsage, ""},
        {forge, {"fb2f", "--help"}, 0, kForgeUsage, ""},
        {forge, {"--version"}, 0, "fwbforge2 " FWBFORGE2_VERSION "\n", ""},
        {forge, {"--verbose", "fb2f"}, 1, kForgeUsage, forgeErr + "unknown option --verbose\n"},
        {forge,
         {"fb2f", "0a01", "fb2f", "0001", "update-data.xml", "--record"},
         1,
         kForgeUsage,
         forgeErr + "option --record needs a value\n"},
        {forge,
         {"fb2f", "0a01", "fb2f", "0001", "update-data.xml", "o.fwb", "--record", "a", "--record",
          "b"},
         1,
         kForgeUsage,
         forgeErr + "option --record is given twice\n"},
        {forge, {"fb2f", "0a01", "fb2f", "0001", "update-data.xml"}, 1, kForgeUsage, ""},
        {forge,
         {"--all", "update-data.xml"},
         1,
         "Usage:: fwbforge2 --all updatedata.xml outdir\n",
         ""},
        {forge,
         {"--record", "--dry-run", "r.jsonl", "fb2f", "0a01", "fb2f", "0001", "update-data.xml",
          "o.fwb"},
         0,
         "exprom        :1\n",
         ""},
        {forge,
         {"-1", "0a01", "fb2f", "0001", "update-data.xml", "o.fwb"},
         1,
         "fwbforge2: Bad VID -1\n",
         ""},
        {inspect, {"-h"}, 0, kInspectUsage, ""},
        {inspect, {"--version"}, 0, "fwbinspect " FWBFORGE2_VERSION "\n", ""},
        {inspect, {}, 1, kInspectUsage, ""},
        {inspect, {"--bogus", "x"}, 1, kInspectUsage, inspectErr + "unknown option --bogus\n"},
        {inspect,
         {"--update-data"},
         1,
         kInspectUsage,
         inspectErr + "option --update-data needs a value\n"},
        {inspect,
         {"--diff", "--json", "a.fwb"},
         1,
         "{",
         inspectErr + "option --diff needs 2 values\n"},
        {inspect,
         {"--update-data", "u.xml", "--update-data", "v.xml"},
         1,
         kInspectUsage,
         inspectErr + "option --update-data is given twice\n"},
        {inspect,
         {"--update-data", "u.xml", "--blobs"},
         1,
         kInspectUsage,
         inspectErr + "--blobs goes with images alone\n"},
        {inspect,
         {"--update-data", "u.xml", "a.fwb"},
         1,
         kInspectUsage,
         inspectErr + "unexpected argument a.fwb\n"},
        {inspect,
         {"a.fwb", "b.fwb", "--expect", "fb2f", "0a01", "fb2f", "0001", "u.xml"},
         1,
         kInspectUsage,
         inspectErr + "--expect takes one IMAGE\n"},
        {inspect,
         {"a.fwb", "--base", "b.fwb"},
         1,
         kInspectUsage,
         inspectErr + "--base goes with --expect\n"},
        {inspect,
         {"a.fwb", "--extract", "out", "--json"},
         1,
         "{",
         inspectErr + "--extract has no --json\n"},
        {inspect,
         {"a.fwb", "--diff", "a.fwb", "b.fwb"},
         1,
         kInspectUsage,
         inspectErr + "unexpected argument a.fwb\n"},
        {inspect, {"--update-data", "--json", "update-data.xml"}, 0, "{", ""},
        {inspect,
         {"--", "-x.fwb"},
         67,
         "Unable to read fwb -x.fwb\n",
         inspectErr + "cannot read -x.fwb: " +
             (kOnWindows ? "File not found" : "No such file or directory") + "\n"},
    };
    for (const GrammarCase& c : cases) {
        const RunResult r = run_program(dir.path(), c.program, c.args);
        const std::string what =
            fs::path(c.program).stem().string() + " " + testing::PrintToString(c.args);
        EXPECT_EQ(r.status, c.status) << what << "\n" << r.out << r.err;
        EXPECT_TRUE(r.out.starts_with(c.outStart)) << what << "\n" << r.out;
        EXPECT_EQ(r.err, c.err) << what;
    }
}

// A script that asked for JSON gets JSON even when its command line is refused.
TEST_F(OptionGrammar, ARefusedCommandLineWithJsonPrintsAUsageErrorDocument) {
    const RunResult forge = run_program(dir.path(), FWBFORGE2_PATH, {"--json", "fb2f"});
    const RunResult inspect = run_program(dir.path(), FWBINSPECT_PATH, {"--json", "--bogus"});
    for (const RunResult& r : {forge, inspect}) {
        ASSERT_EQ(r.status, 1) << r.out;
        const nlohmann::json document = nlohmann::json::parse(r.out);
        EXPECT_EQ(document["kind"], "usage_error");
        EXPECT_EQ(document["status"], 1);
    }
    EXPECT_EQ(nlohmann::json::parse(forge.out)["messages"][0],
              std::string(kForgeUsage.substr(0, kForgeUsage.size() - 1)));
    EXPECT_EQ(nlohmann::json::parse(inspect.out)["messages"][0],
              "fwbinspect: unknown option --bogus");
}

} // namespace
