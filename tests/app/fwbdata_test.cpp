// End to end: fwbdata's conversions, on files the common XML writers wrote and
// on tables, and what fwbforge2 makes of what they write.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace {

const fs::path kWriters = fs::path(FWBDATA_TEST_DATA);
const std::vector<std::string> kWriterFiles = {"elementtree.xml", "elementtree-reordered.xml",
                                               "minidom.xml",     "lxml.xml",
                                               "lxml-pretty.xml", "xmlstarlet-fo.xml"};
constexpr std::string_view kMac1 = "4642464f5247453200010002";
constexpr std::string_view kPhy1 = "5048593100000010";
constexpr std::string_view kMac2 = "4642464f52474532000100020003";
const std::string kMeantCsv = "vid,did,svid,ssid,mac,phy,exprom,image\r\n"
                              "fb2f,0a01,fb2f,0001," +
                              std::string(kMac1) + "," + std::string(kPhy1) +
                              ",True,R&D-base.fwb\r\n"
                              "fb2f,0a02,fb2f,0010," +
                              std::string(kMac2) +
                              ",,False,example-base.fwb\r\n"
                              "fb2f,0a02,fb2f,0011," +
                              std::string(kMac2) + ",,False,example-base.fwb\r\n";
constexpr std::string_view kCsvHeader = "vid,did,svid,ssid,mac,phy,exprom,image\r\n";

class Fwbdata : public testing::Test {
  protected:
    RunResult data(const std::vector<std::string>& args) const {
        return run_program(dir.path(), FWBDATA_PATH, args);
    }
    std::string csv_of(const std::string& updateData) const {
        const RunResult listed = data({"to-csv", updateData});
        EXPECT_EQ(listed.status, 0) << listed.err;
        return listed.out;
    }
    TempDir dir;
};

TEST_F(Fwbdata, NormalizesWhatEveryWriterWroteSoTheScannerReadsIt) {
    for (const std::string& name : kWriterFiles) {
        fs::copy_file(kWriters / name, dir / name, fs::copy_options::overwrite_existing);
        // As the writer left it, fwbforge2 finds at most the one entry with a blank before "/>".
        EXPECT_NE(csv_of(name), kMeantCsv) << name;
        const RunResult normalized = data({"normalize", name, "out.xml"});
        EXPECT_EQ(normalized.status, 0) << name << normalized.err;
        EXPECT_EQ(normalized.out, "Wrote 3 devices to out.xml\n") << name;
        EXPECT_EQ(normalized.err, "") << name;
        EXPECT_EQ(csv_of("out.xml"), kMeantCsv) << name;
    }
}

TEST_F(Fwbdata, KeepsEveryDeviceOfTheExampleAfterAnXmlstarletEdit) {
    fs::copy_file(fs::path(EXAMPLES_DIR) / "update-data.xml", dir / "update-data.xml");
    fs::copy_file(kWriters / "xmlstarlet-ed.xml", dir / "edited.xml");
    std::string meant = csv_of("update-data.xml");
    const std::size_t mac = meant.find(',', meant.find("fb2f,0a01") + 19) + 1;
    meant.replace(mac, meant.find(',', mac) - mac, "00112233");
    EXPECT_EQ(csv_of("edited.xml"), std::string(kCsvHeader));
    ASSERT_EQ(data({"normalize", "edited.xml", "out.xml"}).status, 0);
    EXPECT_EQ(csv_of("out.xml"), meant);
}

// The files under tests/data are what the writers write today, where they are installed.
TEST_F(Fwbdata, CommittedWriterFilesAreWhatTheWritersWrite) {
    const fs::path script = kWriters / "write-with-writers.sh";
    if (kOnWindows || !fs::exists("/usr/bin/python3") || !fs::exists("/usr/bin/xmlstarlet")) {
        GTEST_SKIP() << "the writers are not installed";
    }
    const RunResult written =
        run_program(dir.path(), "/bin/sh",
                    {script.string(), (fs::path(EXAMPLES_DIR) / "update-data.xml").string(), "."});
    ASSERT_EQ(written.status, 0) << written.err;
    for (const std::string& name : kWriterFiles) {
        EXPECT_EQ(read_file(dir / name), read_file(kWriters / name)) << name;
    }
    EXPECT_EQ(read_file(dir / "xmlstarlet-ed.xml"), read_file(kWriters / "xmlstarlet-ed.xml"));
}

TEST_F(Fwbdata, ImagesFromNormalizedDataCarryTheValuesMeant) {
    const std::string base = read_file(fs::path(EXAMPLES_DIR) / "example-base.fwb");
    write_file(dir / "R&D-base.fwb", base);
    write_file(dir / "example-base.fwb", base);
    fs::copy_file(kWriters / "minidom.xml", dir / "minidom.xml");
    ASSERT_EQ(data({"normalize", "minidom.xml", "out.xml"}).status, 0);
    const RunResult all = run_program(dir.path(), FWBFORGE2_PATH, {"--all", "out.xml", "images"});
    ASSERT_EQ(all.status, 0) << all.out << all.err;
    struct Meant {
        std::string file;
        std::string_view mac;
        std::string_view phy;
        bool expromCleared;
    };
    for (const Meant& m : {Meant{"fb2f-0a01-fb2f-0001.fwb", kMac1, kPhy1, false},
                           Meant{"fb2f-0a02-fb2f-0010.fwb", kMac2, "", true},
                           Meant{"fb2f-0a02-fb2f-0011.fwb", kMac2, "", true}}) {
        expect_provisioned(base, read_file(dir / "images" / m.file), hex_to_bytes(m.phy),
                           hex_to_bytes(m.mac), m.expromCleared);
    }
}

TEST_F(Fwbdata, ReadsTablesAsQuotedAndWritesThemBack) {
    struct Case {
        std::string name;
        std::string csv;
        std::string meant; // to-csv of what was written
    };
    const std::string row2 = "fb2f,0a01,fb2f,0002,00,11,False,base.fwb\r\n";
    const std::vector<Case> cases = {
        {"plain", "vid,did,svid,ssid,mac,phy,exprom,image\nfb2f,a01,fb2f,2,00,11,False,base.fwb\n",
         std::string(kCsvHeader) + row2},
        {"columns in another order, capitals, BOM, CRLF",
         "\xEF\xBB\xBFImage,SSID,svid,did,vid,exprom,phy,mac,notes\r\n"
         "base.fwb,0002,FB2F,0A01,fb2f,FALSE,11,00,ignored\r\n",
         std::string(kCsvHeader) + row2},
        {"quoted names",
         "vid,did,svid,ssid,mac,phy,exprom,image\n"
         "fb2f,0a01,fb2f,0003,,,True,\"a,b \"\"c\"\" & d.fwb\"\n",
         std::string(kCsvHeader) + "fb2f,0a01,fb2f,0003,,,True,\"a,b \"\"c\"\" & d.fwb\"\r\n"},
        {"no exprom keeps the expansion ROM, a blank line is skipped",
         "vid,did,svid,ssid,mac,phy,exprom,image\n\nfb2f,0a01,fb2f,0004,,,,x.fwb\n",
         std::string(kCsvHeader) + "fb2f,0a01,fb2f,0004,,,True,x.fwb\r\n"},
        {"a device listed twice alike",
         "vid,did,svid,ssid,mac,phy,exprom,image\n"
         "fb2f,a01,fb2f,2,00,11,False,base.fwb\n"
         "fb2f,a01,fb2f,2,00,11,False,base.fwb\n",
         std::string(kCsvHeader) + row2},
    };
    for (const Case& c : cases) {
        write_file(dir / "in.csv", c.csv);
        const RunResult written = data({"from-csv", "in.csv", "out.xml"});
        EXPECT_EQ(written.status, 0) << c.name << written.err;
        EXPECT_EQ(csv_of("out.xml"), c.meant) << c.name;
        // And back: the table to-csv writes makes the same update data.
        ASSERT_EQ(data({"to-csv", "out.xml", "again.csv"}).status, 0) << c.name;
        EXPECT_EQ(read_file(dir / "again.csv"), c.meant) << c.name;
        ASSERT_EQ(data({"from-csv", "again.csv", "again.xml"}).status, 0) << c.name;
        EXPECT_EQ(csv_of("again.xml"), c.meant) << c.name;
    }
}

TEST_F(Fwbdata, RefusesWhatCannotBeWrittenAndWritesNothing) {
    struct Case {
        std::string name;
        std::string command;
        std::string input;
        int status;
        std::string err;
    };
    const std::string head = "vid,did,svid,ssid,mac,phy,exprom,image\n";
    const std::string xml =
        "<updatedata>\n<device>\n<pciid vid='fb2f' did='0a01' sdid='1' svid='fb2f'/>\n";
    const std::string device = "device vid=fb2f did=0a01 svid=fb2f ssid=0001: ";
    const std::vector<Case> cases = {
        {"raw ampersand", "normalize",
         "<updatedata>\n<pciid vid=\"fb2f\" did=\"0a01\" sdid=\"0001\" svid=\"fb2f\" />\n"
         "<image>R&D.fwb</image>\n</updatedata>\n",
         65, "fwbdata: in:3:15: not well-formed: not well-formed (invalid token)\n"},
        {"less-than in an image name", "normalize",
         xml + "<image>a&lt;b</image></device></updatedata>\n", 69,
         "fwbdata: in:4: " + device + "image holds a '<', where fwbforge2 ends the value\n"},
        {"odd mac", "normalize", xml + "<mac>abc</mac><image>x</image></device></updatedata>\n", 69,
         "fwbdata: in:4: " + device + "mac has an odd number of hexadecimal digits\n"},
        {"exprom in lowercase", "normalize",
         xml + "<exprom>true</exprom>\n<image>x</image></device></updatedata>\n", 69,
         "fwbdata: in:4: " + device + "exprom is neither True nor False\n"},
        {"no image", "normalize", xml + "<mac>00</mac></device></updatedata>\n", 69,
         "fwbdata: in:3: " + device + "the entry ends with no image\n"},
        {"five-digit identifier", "normalize",
         "<d><pciid vid='fb2f' did='0a01' sdid='00001' svid='fb2f'/><image>x</image></d>", 69,
         "fwbdata: in:1: sdid is not one to four hexadecimal digits\n"},
        {"listed again otherwise", "from-csv",
         head + "fb2f,a01,fb2f,1,00,,True,x\nfb2f,a01,fb2f,1,01,,True,x\n", 69,
         "fwbdata: in:3: " + device + "listed again with other values than on line 2\n"},
        {"line feed in a name", "from-csv", head + "fb2f,a01,fb2f,1,,,True,\"a\nb\"\n", 69,
         "fwbdata: in:2: " + device +
             "image holds a line break or a NUL, which fwbforge2 cannot read in a value\n"},
        {"missing column", "from-csv", "vid,did,svid,mac,phy,exprom,image\n", 65,
         "fwbdata: in:1: the header row has no column ssid\n"},
        {"repeated column", "from-csv", "vid,did,svid,ssid,mac,phy,exprom,image,VID\n", 65,
         "fwbdata: in:1:9: the header row names the column vid twice\n"},
        {"short row", "from-csv", head + "fb2f,a01\n", 65,
         "fwbdata: in:2: not well-formed: a row whose number of fields is not the header's\n"},
        {"stray quote", "from-csv", head + "fb2f,a01,fb2f,1,,,True,a\"b\n", 65,
         "fwbdata: in:2: not well-formed: a quote inside a field that does not begin with one\n"},
        {"bad identifier in a table", "from-csv", head + "fb2g,a01,fb2f,1,,,True,x\n", 69,
         "fwbdata: in:2:1: vid is not one to four hexadecimal digits\n"},
    };
    for (const Case& c : cases) {
        write_file(dir / "in", c.input);
        const RunResult run = data({c.command, "in", "out.xml"});
        EXPECT_EQ(run.status, c.status) << c.name;
        EXPECT_EQ(run.err, c.err) << c.name;
        EXPECT_EQ(run.out, "") << c.name;
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"in"}) << c.name;
    }
}

TEST_F(Fwbdata, ListsEveryDeviceAsFwbforge2ReadsIt) {
    fs::copy_file(fs::path(EXAMPLES_DIR) / "update-data.xml", dir / "update-data.xml");
    const RunResult listed = data({"to-json", "update-data.xml"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    const nlohmann::json document = nlohmann::json::parse(listed.out);
    EXPECT_EQ(document["kind"], "update_data_devices");
    const nlohmann::json& first = document["devices"][0];
    EXPECT_EQ(first["vid"], "fb2f");
    EXPECT_EQ(first["ssid"], "0001");
    EXPECT_EQ(first["exprom"], true);
    EXPECT_EQ(first["image"], "example-base.fwb");
    const std::string table = csv_of("update-data.xml");
    EXPECT_EQ(document["devices"].size() + 1,
              static_cast<std::size_t>(std::count(table.begin(), table.end(), '\n')));
    const RunResult usage = data({"to-json"});
    EXPECT_EQ(usage.status, 1);
    EXPECT_TRUE(usage.out.starts_with("Usage: fwbdata normalize")) << usage.out;
}

} // namespace
