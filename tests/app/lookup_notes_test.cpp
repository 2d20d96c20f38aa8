// End to end: what fwbforge2 and fwbinspect --expect say on standard error about
// a lookup (a missing entry and the line that nearly names it, an identifier read
// as a prefix, an exprom that reads as 0), and --base-dir; standard output stays
// as it was.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kNoEntryOut =
    "fwbforge2: get_xml_data() returns 69\nfwbforge2: readBdp() returns 69\n";
const std::string kHint = "; fwbdata normalize writes the form it reads\n";

std::string update_data(std::string_view keyLine, std::string_view exprom = "True",
                        std::string_view image = "example-base.fwb") {
    return "<updatedata>\n<device>\n" + std::string(keyLine) +
           "\n<mac>0011</mac>\n<phy>22</phy>\n" + "<exprom>" + std::string(exprom) +
           "</exprom>\n<image>" + std::string(image) + "</image>\n</device>\n</updatedata>\n";
}

class LookupNotes : public testing::Test {
  protected:
    void SetUp() override {
        fs::copy_file(fs::path(EXAMPLES_DIR) / "example-base.fwb", dir / "example-base.fwb");
    }
    RunResult forge(const std::vector<std::string>& args) const {
        return run_program(dir.path(), FWBFORGE2_PATH, args);
    }
    TempDir dir;
};

TEST_F(LookupNotes, ExplainsAMissingEntryAndTheLineThatNearlyNamesIt) {
    struct Case {
        std::string keyLine;
        std::string explanation; // after the "no entry" line
    };
    const std::string near =
        "fwbforge2: line 3 names the device in a form the lookup does not read (";
    const std::vector<Case> cases = {
        {R"(<pciid vid="fb2f" did="0a01" sdid="0001" svid="fb2f"/>)",
         near + "the blank before \"/>\")" + kHint},
        {R"(<pciid svid="fb2f" sdid="0001" did="0a01" vid="fb2f" />)",
         near + "attribute order)" + kHint},
        {R"(<pciid vid='fb2f' did='0a01' sdid='0001' svid='fb2f' />)", near + "quotes)" + kHint},
        {R"(<pciid  vid="fb2f" did = "0a01" sdid="0001" svid="fb2f"  />)",
         near + "spacing)" + kHint},
        {R"(<PCIID VID="FB2F" did="a01" sdid="1" svid="fb2f"></PCIID>)",
         near + "the blank before \"/>\", the case of a name, the number of digits)" + kHint},
        {R"(<pciid vid="fb2f" did="0a01" sdid="0002" svid="fb2f" />)", ""},
        {R"(<pciid vid="fb2f" did="0a01")", ""},
    };
    for (const Case& c : cases) {
        write_file(dir / "update.xml", update_data(c.keyLine));
        const RunResult run = forge({"fb2f", "0a01", "fb2f", "0001", "update.xml", "out.fwb"});
        EXPECT_EQ(run.status, 69) << c.keyLine;
        EXPECT_EQ(run.out, kNoEntryOut) << c.keyLine;
        EXPECT_EQ(run.err,
                  "fwbforge2: no entry for vid=fb2f did=0a01 svid=fb2f ssid=0001 in update.xml\n" +
                      c.explanation)
            << c.keyLine;
    }
}

TEST_F(LookupNotes, FwbinspectExpectExplainsTheSameWay) {
    write_file(dir / "update.xml",
               update_data(R"(<pciid vid="fb2f" did="0a01" sdid="0001" svid="fb2f"/>)"));
    const RunResult run =
        run_program(dir.path(), FWBINSPECT_PATH,
                    {"example-base.fwb", "--expect", "fb2f", "0a01", "fb2f", "0001", "update.xml"});
    EXPECT_EQ(run.status, 69);
    EXPECT_EQ(run.err,
              "fwbinspect: no entry for vid=fb2f did=0a01 svid=fb2f ssid=0001 in update.xml\n"
              "fwbinspect: line 3 names the device in a form the lookup does not read (the blank "
              "before \"/>\")" +
                  kHint);
}

TEST_F(LookupNotes, SaysWhatAnIdentifierWasReadAs) {
    write_file(dir / "update.xml",
               update_data(R"(<pciid vid="0fb2" did="0a01" sdid="0000" svid="fb2f" />)"));
    struct Case {
        std::vector<std::string> ids;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"fb2g", "0a01", "fb2f", "0"}, "fwbforge2: VID \"fb2g\" was read as 0fb2\n"},
        {{"0xfb2", " a01", "+fb2f", "zz"}, "fwbforge2: SSID \"zz\" was read as 0000\n"},
        {{"fb2", "a01", "fb2f", "0"}, ""},
    };
    const std::string before = read_file(dir / "update.xml");
    for (const Case& c : cases) {
        std::vector<std::string> args = c.ids;
        args.insert(args.end(), {"update.xml", "out.fwb"});
        const RunResult run = forge(args);
        EXPECT_EQ(run.status, 0) << c.ids[0] << run.out;
        EXPECT_EQ(run.err, c.err) << c.ids[0];
        EXPECT_TRUE(run.out.starts_with("exprom        :1\n")) << run.out;
    }
}

TEST_F(LookupNotes, WarnsOfAnExpromThatReadsAsZero) {
    const std::string key = R"(<pciid vid="fb2f" did="0a01" sdid="0001" svid="fb2f" />)";
    struct Case {
        std::string exprom;
        std::string out;
        std::string err;
    };
    const std::string warning = "fwbforge2: warning: exprom ";
    const std::string reads = " on line 6 of update.xml is neither True nor False: it reads as "
                              "0, the expansion ROM switched off\n";
    const std::vector<Case> cases = {
        {"True", "exprom        :1\n", ""},
        {"False", "exprom        :0\n", ""},
        {"true", "exprom        :0\n", warning + "\"true\"" + reads},
        {" True", "exprom        :0\n", warning + "\" True\"" + reads},
    };
    for (const Case& c : cases) {
        write_file(dir / "update.xml", update_data(key, c.exprom));
        const RunResult run = forge({"fb2f", "0a01", "fb2f", "0001", "update.xml", "out.fwb"});
        EXPECT_EQ(run.status, 0) << c.exprom;
        EXPECT_TRUE(run.out.starts_with(c.out)) << c.exprom << run.out;
        EXPECT_EQ(run.err, c.err) << c.exprom;
    }
}

TEST_F(LookupNotes, TakesTheBaseImageFromBaseDir) {
    const std::string key = R"(<pciid vid="fb2f" did="0a01" sdid="0001" svid="fb2f" />)";
    fs::create_directory(dir / "bases");
    fs::rename(dir / "example-base.fwb", dir / "bases" / "example-base.fwb");
    const std::string absolute = utf8_of(dir / "bases" / "example-base.fwb");
    struct Case {
        std::string name;
        std::string image;
        std::vector<std::string> options;
        int status;
    };
    const std::vector<Case> cases = {
        {"relative name, no --base-dir", "example-base.fwb", {}, 67},
        {"relative name in --base-dir", "example-base.fwb", {"--base-dir", "bases"}, 0},
        {"absolute name, another --base-dir", absolute, {"--base-dir", "elsewhere"}, 0},
    };
    for (const Case& c : cases) {
        write_file(dir / "update.xml", update_data(key, "True", c.image));
        std::vector<std::string> args = {"fb2f", "0a01", "fb2f", "0001", "update.xml", "out.fwb"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult run = forge(args);
        EXPECT_EQ(run.status, c.status) << c.name << run.out;
        // The entry's name is printed as the entry writes it.
        EXPECT_NE(run.out.find("Image Name    :" + c.image + "\n"), std::string::npos) << c.name;
        if (c.status != 0) {
            continue;
        }
        std::vector<std::string> asJson = args;
        asJson.push_back("--json");
        const std::string opened = c.options.empty() || c.image == absolute
                                       ? c.image
                                       : utf8_of(fs::path("bases") / c.image);
        EXPECT_EQ(nlohmann::json::parse(forge(asJson).out)["base"]["path"], opened)
            << c.name << ": the JSON names the base that was opened";
        std::vector<std::string> batch = {"--all", "update.xml", "all"};
        batch.insert(batch.end(), c.options.begin(), c.options.end());
        EXPECT_EQ(forge(batch).status, 0) << c.name;
        std::vector<std::string> expect = {"out.fwb", "--expect", "fb2f",      "0a01",
                                           "fb2f",    "0001",     "update.xml"};
        expect.insert(expect.end(), c.options.begin(), c.options.end());
        const RunResult inspected = run_program(dir.path(), FWBINSPECT_PATH, expect);
        EXPECT_EQ(inspected.status, 0) << c.name << inspected.out << inspected.err;
        fs::remove_all(dir / "all");
    }
}

} // namespace
