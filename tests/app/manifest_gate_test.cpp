// End to end, fwbinspect --manifest on a batch directory spoiled in each way a
// line could spoil it.
#include "tests/app/json_checks.h"
#include "tests/support/process.h"
#include "tests/support/test_support.h"

#include <functional>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const std::string kFirst = "fb2f-0a01-fb2f-0001";
const std::string kSecond = "fb2f-0a02-fb2f-0010";
const std::string kThird = "fb2f-0a02-fb2f-0011";
const std::string kFourth = "fb2f-0a03-fb30-0001";

class ManifestGate : public testing::Test {
  protected:
    void SetUp() override {
        fs::copy_file(fs::path(EXAMPLES_DIR) / "update-data.xml", dir / "update-data.xml");
        fs::copy_file(fs::path(EXAMPLES_DIR) / "example-base.fwb", dir / "example-base.fwb");
    }

    RunResult forge(const std::vector<std::string>& args) const {
        return run_program(dir.path(), FWBFORGE2_PATH, args);
    }
    RunResult gate(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--manifest", "out/manifest.json"});
        return run_program(dir.path(), FWBINSPECT_PATH, args);
    }
    fs::path image(const std::string& name) const { return dir / "out" / (name + ".fwb"); }

    TempDir dir;
};

// The value of the line labelled label, or "(none)".
std::string line_of(const std::string& text, const std::string& label) {
    const std::size_t at = text.find(label + ": ");
    if (at == std::string::npos) {
        return "(none)";
    }
    const std::size_t from = at + label.size() + 2;
    return text.substr(from, text.find('\n', from) - from);
}

struct GateCase {
    std::string name;
    std::function<void(const fs::path& dir)> spoil;
    std::string label; // the line that says what is wrong
    std::string value;
    int status;
};

// Each spoiling is named on its device's line, and only there; the verdict and
// status follow.
TEST_F(ManifestGate, NamesEveryWayABatchDirectoryDiffersFromItsManifest) {
    const auto replace_in_manifest = [](const fs::path& d, std::string from, std::string to) {
        std::string text = read_file(d / "out" / "manifest.json");
        text.replace(text.find(from), from.size(), to);
        write_file(d / "out" / "manifest.json", text);
    };
    const std::vector<GateCase> cases = {
        {"as written", [](const fs::path&) {}, "verdict            ", "as expected", 0},
        {"two images swapped",
         [&](const fs::path&) {
             fs::rename(image(kFirst), dir / "t");
             fs::rename(image(kFourth), image(kFirst));
             fs::rename(dir / "t", image(kFourth));
         },
         kFirst,
         "DIFFERENT: sha256 differs from the manifest's; header digest, first at 0x00000000", 69},
        {"a flipped byte",
         [&](const fs::path&) {
             std::string bytes = read_file(image(kSecond));
             bytes[0x10147] ^= 1;
             write_file(image(kSecond), bytes);
         },
         kSecond, "DIFFERENT: sha256 differs from the manifest's; MAC blob, first at 0x00010147",
         69},
        {"a missing image", [&](const fs::path&) { fs::remove(image(kThird)); }, kThird,
         "MISSING: \"out" + std::string(kOnWindows ? "\\\\" : "/") + kThird + ".fwb\"", 69},
        {"a stale image",
         [&](const fs::path&) { write_file(dir / "out" / "ffff-0001-ffff-0001.fwb", "old"); },
         "ffff-0001-ffff-0001.fwb", "STALE: not in the manifest", 69},
        {"an edited length",
         [&](const fs::path& d) { replace_in_manifest(d, "\"length\": 262144", "\"length\": 1"); },
         kFirst, "DIFFERENT: length 262144, listed 1", 69},
        {"a device the update data no longer lists",
         [&](const fs::path& d) { replace_in_manifest(d, "\"0a03\"", "\"0a09\""); },
         "fb2f-0a09-fb30-0001", "NOT IN THE UPDATE DATA", 69},
        {"changed update data",
         [&](const fs::path& d) {
             write_file(d / "update-data.xml", read_file(d / "update-data.xml") + "\n");
         },
         "update data        ",
         "\"update-data.xml\", NOT AS LISTED: its sha256 differs from the manifest's", 69},
        {"an unreadable manifest",
         [&](const fs::path&) { fs::remove(dir / "out" / "manifest.json"); },
         "Unable to open file! out/manifest.json\n", "", 67},
        {"an empty manifest",
         [&](const fs::path&) { write_file(dir / "out" / "manifest.json", ""); },
         "Not a manifest out/manifest.json: not JSON", "", 69},
        {"a manifest of something else",
         [&](const fs::path&) { write_file(dir / "out" / "manifest.json", "{\"kind\": \"run\"}"); },
         "No update data in manifest out/manifest.json", "", 69},
    };
    for (const GateCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir / "out");
        fs::copy_file(fs::path(EXAMPLES_DIR) / "update-data.xml", dir / "update-data.xml",
                      fs::copy_options::overwrite_existing);
        ASSERT_EQ(forge({"--all", "update-data.xml", "out"}).status, 0);
        c.spoil(dir.path());
        const RunResult r = gate({});
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        if (c.value.empty()) {
            EXPECT_TRUE(r.out.starts_with(c.label)) << r.out;
            EXPECT_EQ(json::parse(gate({"--json"}).out)["status"], c.status);
            continue;
        }
        EXPECT_TRUE(line_of(r.out, c.label).starts_with(c.value)) << r.out;
        EXPECT_EQ(line_of(r.out, "verdict            "),
                  c.status == 0 ? "as expected" : "NOT AS EXPECTED");
        const RunResult asJson = gate({"--json"});
        EXPECT_EQ(asJson.status, c.status);
        EXPECT_EQ(head_of(asJson.out)[1], "manifest_check");
        const json document = json::parse(asJson.out);
        EXPECT_EQ(document["status"], c.status);
        EXPECT_EQ(document["as_expected"], c.status == 0);
    }
}

// A batch of some devices is held against those alone; a failed device is named.
TEST_F(ManifestGate, HoldsASelectedBatchToItsSelectionAndNamesFailedDevices) {
    ASSERT_EQ(forge({"--all", "update-data.xml", "out", "--only", kSecond + "," + kFourth}).status,
              0);
    const RunResult subset = gate({});
    EXPECT_EQ(subset.status, 0) << subset.out;
    EXPECT_EQ(line_of(subset.out, "summary            "),
              "2 devices, 2 as expected, 0 stale images");

    std::string text = read_file(dir / "out" / "manifest.json");
    text.replace(text.find(kFourth), kFourth.size(), kFirst);
    write_file(dir / "out" / "manifest.json", text);
    const RunResult narrowed = gate({});
    EXPECT_EQ(narrowed.status, 69);
    EXPECT_EQ(line_of(narrowed.out, kFourth), "NOT SELECTED") << narrowed.out;

    fs::remove_all(dir / "out");
    write_file(dir / "gone.xml", R"(<pciid vid="fb2f" did="0a01" sdid="0001" svid="fb2f" />)"
                                 "\n<mac>0a</mac>\n<phy>0b</phy>\n<image>gone.fwb</image>\n");
    ASSERT_EQ(forge({"--all", "gone.xml", "out"}).status, 67);
    const RunResult failed = gate({});
    EXPECT_EQ(failed.status, 69);
    EXPECT_EQ(line_of(failed.out, kFirst), "FAILED in the batch: status 67");

    // The update data given, and a base directory for the images it names.
    fs::remove_all(dir / "out");
    fs::create_directory(dir / "bases");
    fs::rename(dir / "example-base.fwb", dir / "bases" / "example-base.fwb");
    ASSERT_EQ(run_program(dir / "bases", FWBFORGE2_PATH, {"--all", "../update-data.xml", "../out"})
                  .status,
              0);
    EXPECT_EQ(gate({"--update-data", "update-data.xml", "--base-dir", "bases"}).status, 0);
    EXPECT_EQ(gate({"--update-data", "update-data.xml"}).status, 69)
        << "the base is not where the entry names it";
}

} // namespace
