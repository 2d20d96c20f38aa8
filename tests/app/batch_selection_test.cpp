// End to end, a batch of some devices (--only) beside images an earlier batch left.
#include "tests/support/process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const std::string kFirst = "fb2f-0a01-fb2f-0001";
const std::string kSecond = "fb2f-0a02-fb2f-0010";
const std::string kThird = "fb2f-0a02-fb2f-0011";
const std::string kSeparator = kOnWindows ? "\\" : "/";

class BatchSelection : public testing::Test {
  protected:
    void SetUp() override {
        fs::copy_file(fs::path(EXAMPLES_DIR) / "update-data.xml", dir / "update-data.xml");
        fs::copy_file(fs::path(EXAMPLES_DIR) / "example-base.fwb", dir / "example-base.fwb");
    }

    RunResult forge(const std::vector<std::string>& args) const {
        return run_program(dir.path(), FWBFORGE2_PATH, args);
    }

    std::vector<std::string> images_in(const fs::path& folder) const {
        std::vector<std::string> names;
        if (fs::exists(folder)) {
            for (const auto& item : fs::directory_iterator(folder)) {
                names.push_back(item.path().filename().string());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir;
};

struct OnlyCase {
    std::string name;
    std::string only;
    int status;
    std::vector<std::string> written; // device names, in the update data's order
    std::string out;                  // when nothing is written: all of standard output
};

// The devices named are written, in the update data's order, and the manifest
// says which were asked for; a name the update data lacks refuses the batch.
TEST_F(BatchSelection, OnlyWritesTheNamedDevicesAndRefusesOneNotListed) {
    write_file(dir / "names.txt", "\n  " + kThird + "\r\n" + kFirst + "\n\n" + kThird + "\n");
    const std::vector<OnlyCase> cases = {
        {"a list", kThird + "," + kFirst, 0, {kFirst, kThird}, ""},
        {"upper case", "FB2F-0A02-FB2F-0010", 0, {kSecond}, ""},
        {"a file, blank lines and a repeat", "@names.txt", 0, {kFirst, kThird}, ""},
        {"a device not listed",
         kFirst + ",fb2f-0a01-fb2f-0999",
         69,
         {},
         "Device not in update data fb2f-0a01-fb2f-0999\n"},
        {"not a name",
         "fb2f-0a01-fb2f",
         1,
         {},
         "Not a device name (vvvv-dddd-ssss-iiii) fb2f-0a01-fb2f\n"},
        {"an empty item", kFirst + ",", 1, {}, "Not a device name (vvvv-dddd-ssss-iiii) \n"},
        {"a missing file", "@nowhere.txt", 67, {}, "Unable to open file! nowhere.txt\n"},
    };
    for (const OnlyCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir / "out");
        const RunResult r = forge({"--all", "update-data.xml", "out", "--only", c.only});
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        if (c.status != 0) {
            EXPECT_EQ(r.out, c.out);
            EXPECT_FALSE(fs::exists(dir / "out")) << "nothing is written";
            continue;
        }
        std::vector<std::string> files;
        json selection = json::array();
        for (const std::string& name : c.written) {
            files.push_back(name + ".fwb");
            EXPECT_NE(r.out.find("Device        :" + name + "\n"), std::string::npos);
        }
        files.push_back("manifest.json");
        EXPECT_EQ(images_in(dir / "out"), files);
        const json manifest = json::parse(read_file(dir / "out" / "manifest.json"));
        EXPECT_EQ(manifest["devices"].size(), c.written.size());
        EXPECT_EQ(manifest["selection"].size(), c.written.size());
        EXPECT_TRUE(r.out.ends_with(std::to_string(c.written.size()) + " written, 0 failed\n"));
    }
    const RunResult single =
        forge({"fb2f", "0a01", "fb2f", "0001", "update-data.xml", "o.fwb", "--only", kFirst});
    EXPECT_EQ(single.status, 1);
    EXPECT_EQ(single.err.substr(0, single.err.find('\n')), "fwbforge2: --only needs --all");
}

// Images an earlier batch left are named on standard error and in the
// manifest, and kept; the batch's own images are not stale.
TEST_F(BatchSelection, ImagesTheBatchDidNotWriteAreListedAsStaleAndKept) {
    fs::create_directory(dir / "out");
    write_file(dir / "out" / "ffff-0000-ffff-0000.fwb", "old image");
    write_file(dir / "out" / "notes.txt", "not an image");
    write_file(dir / "out" / (kFirst + ".fwb"), "replaced by this batch");
    const RunResult r = forge({"--all", "update-data.xml", "out", "--only", kFirst});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "fwbforge2: stale image out" + kSeparator +
                         "ffff-0000-ffff-0000.fwb: this batch did not write it\n");
    EXPECT_EQ(read_file(dir / "out" / "ffff-0000-ffff-0000.fwb"), "old image");
    const json manifest = json::parse(read_file(dir / "out" / "manifest.json"));
    EXPECT_EQ(manifest["stale"], json::array({"ffff-0000-ffff-0000.fwb"}));
    EXPECT_EQ(manifest["selection"], json::array({kFirst}));

    const RunResult all = forge({"--all", "update-data.xml", "out", "--json"});
    EXPECT_EQ(json::parse(all.out)["stale"], json::array({"ffff-0000-ffff-0000.fwb"}));
    EXPECT_TRUE(json::parse(all.out)["selection"].is_null());
    EXPECT_NE(all.err, "") << "stale images are named with --json too";
}

} // namespace
