// End to end: fwbinspect on images fwbforge2 wrote from the bundled example.
#include "tests/app/json_checks.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr std::size_t kExampleBdpOffset = 65536;

class Fwbinspect : public testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"update-data.xml", "example-base.fwb"}) {
            fs::copy_file(fs::path(EXAMPLES_DIR) / name, dir / name);
        }
    }

    RunResult inspect(const std::vector<std::string>& args) const {
        return run_program(dir.path(), FWBINSPECT_PATH, args);
    }

    RunResult provision(const json& device, const std::string& output) const {
        return run_program(dir.path(), FWBFORGE2_PATH,
                           {device["vid"], device["did"], device["svid"], device["ssid"],
                            "update-data.xml", output});
    }

    json listed_devices() const {
        const RunResult listing = inspect({"--update-data", "update-data.xml", "--json"});
        EXPECT_EQ(listing.status, 0) << listing.out;
        return json::parse(listing.out)["devices"];
    }

    // Provisions the example's entry for two boards and returns the image's name.
    std::string provisioned() const {
        const RunResult r =
            run_program(dir.path(), FWBFORGE2_PATH,
                        {"fb2f", "0a02", "fb2f", "0011", "update-data.xml", "device.fwb"});
        EXPECT_EQ(r.status, 0) << r.out;
        return "device.fwb";
    }

    void flip_byte(const std::string& name, std::size_t offset) const {
        std::string bytes = read_file(dir / name);
        bytes[offset] = static_cast<char>(bytes[offset] ^ 0x80);
        write_file(dir / name, bytes);
    }

    TempDir dir;
};

// The text report as (label, value) pairs, in order.
std::vector<std::pair<std::string, std::string>> fields_of(const std::string& report) {
    std::vector<std::pair<std::string, std::string>> fields;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t colon = line.find(": ");
        std::string label = line.substr(0, colon);
        label.erase(label.find_last_not_of(' ') + 1);
        fields.emplace_back(label, line.substr(colon + 2));
    }
    return fields;
}

std::string value_of(const std::string& report, const std::string& label) {
    for (const auto& [name, value] : fields_of(report)) {
        if (name == label) {
            return value;
        }
    }
    return "(no " + label + ")";
}

} // namespace

TEST_F(Fwbinspect, EveryListedDeviceIsProvisionedAndItsImageVerifies) {
    const RunResult check = inspect({"--update-data", "update-data.xml"});
    EXPECT_EQ(check.status, 0);
    EXPECT_TRUE(check.out.ends_with("4 devices, 0 problems\n")) << check.out;
    const json devices = listed_devices();
    ASSERT_EQ(devices.size(), 4u);
    for (const json& device : devices) {
        const std::string output =
            "out-" + std::string(device["did"]) + "-" + std::string(device["ssid"]);
        ASSERT_EQ(provision(device, output).status, 0) << device.dump();
        const RunResult text = inspect({output});
        EXPECT_EQ(text.status, 0) << text.out;
        EXPECT_EQ(value_of(text.out, "verdict"), "verified");
        const json report = json::parse(inspect({output, "--json"}).out)["images"][0];
        EXPECT_EQ(report["entries"][0]["length"], device["phy_length"]);
        EXPECT_EQ(report["entries"][1]["length"], device["mac_length"]);
        EXPECT_EQ(report["exprom"]["cleared"], device["exprom"] == 0)
            << "the example's descriptor is not zero";
    }
}

TEST_F(Fwbinspect, ANearMissKeyLineIsReportedAndFwbforge2DoesNotFindIt) {
    write_file(dir / "near.xml", R"(<pciid vid="fb2f" did="0a01"  sdid="0001" svid="fb2f" />)"
                                 "\n<image>example-base.fwb</image>\n");
    const RunResult check = inspect({"--update-data", "near.xml"});
    EXPECT_EQ(check.status, 69);
    EXPECT_NE(check.out.find("line 1: key line not written as"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("line 2: <image> outside any entry"), std::string::npos) << check.out;
    const RunResult run =
        run_program(dir.path(), FWBFORGE2_PATH, {"fb2f", "0a01", "fb2f", "0001", "near.xml", "o"});
    EXPECT_EQ(run.status, 69);
}

TEST_F(Fwbinspect, AFlippedByteInEachSealedRangeIsReportedWithStatus69) {
    const std::vector<std::pair<std::size_t, std::string>> cases = {
        {40, "header digest"},
        {5000, "second-area digest"},
        {kExampleBdpOffset + 100, "table digest"},
        {kExampleBdpOffset + 288, "entry 0"},
        {kExampleBdpOffset + 288 + 24, "entry 1"},
    };
    for (const auto& [offset, label] : cases) {
        const std::string image = provisioned();
        flip_byte(image, offset);
        const RunResult r = inspect({image});
        EXPECT_EQ(r.status, 69) << offset;
        EXPECT_NE(value_of(r.out, label).find("MISMATCH"), std::string::npos) << label << "\n"
                                                                              << r.out;
        EXPECT_EQ(value_of(r.out, "verdict"), "NOT VERIFIED");
    }
}

TEST_F(Fwbinspect, TruncatedImagesGetAFullReportAndStatus69) {
    const std::string whole = read_file(dir / provisioned());
    for (const std::size_t length :
         std::initializer_list<std::size_t>{0, 100, 4000, 6144, kExampleBdpOffset + 10}) {
        write_file(dir / "cut.fwb", whole.substr(0, length));
        const RunResult r = inspect({"cut.fwb"});
        EXPECT_EQ(r.status, 69) << length;
        EXPECT_EQ(value_of(r.out, "verdict"), "NOT VERIFIED") << length;
    }
}

TEST_F(Fwbinspect, JsonStatesTheSameFactsAsTheText) {
    const std::string image = provisioned();
    for (const bool flipped : {false, true}) {
        if (flipped) {
            flip_byte(image, kExampleBdpOffset + 290);
        }
        const std::string text = inspect({image, "--blobs"}).out;
        const RunResult r = inspect({image, "--blobs", "--json"});
        EXPECT_EQ(head_of(r.out),
                  (std::vector<std::string>{"1", "images", "fwbinspect", FWBFORGE2_VERSION}));
        const json document = json::parse(r.out);
        EXPECT_EQ(document["verified"], document["images"][0]["verified"]);
        const json& report = document["images"][0];
        EXPECT_EQ(std::stoul(value_of(text, "bdpOffset"), nullptr, 16), report["bdp_offset"]);
        EXPECT_EQ(std::stoul(value_of(text, "bdpSize"), nullptr, 16), report["bdp_size"]);
        EXPECT_EQ(value_of(text, "verdict") == "verified", report["verified"]);
        EXPECT_EQ(value_of(text, "table digest") == "ok", report["digests"]["table"]["ok"]);
        EXPECT_EQ(value_of(text, "exprom descriptor").substr(0, 16),
                  report["exprom"]["descriptor"]);
        const std::vector<std::pair<std::string, std::string>> fields = fields_of(text);
        for (const json& entry : report["entries"]) {
            const std::string label = "entry " + std::to_string(int(entry["index"]));
            EXPECT_EQ(value_of(text, label)
                          .find(std::string(entry["type"]) + ", " +
                                std::to_string(int(entry["length"])) + " bytes, digest " +
                                (entry["digest"]["ok"] ? "ok" : "MISMATCH")),
                      0u);
            const auto at =
                std::find(fields.begin(), fields.end(), std::pair{label, value_of(text, label)});
            EXPECT_EQ(std::next(at)->second, entry["blob"]) << "the blob line follows its entry";
        }
    }
}

TEST_F(Fwbinspect, FilesThatCannotBeReadGiveStatus67) {
    const RunResult missing = inspect({"missing.fwb"});
    EXPECT_EQ(missing.out, "Unable to read fwb missing.fwb\n");
    EXPECT_EQ(missing.err, std::string("fwbinspect: cannot read missing.fwb: ") +
                               (kOnWindows ? "File not found" : "No such file or directory") +
                               "\n");
    EXPECT_EQ(missing.status, 67);
    fs::create_directory(dir / "folder.fwb");
    EXPECT_EQ(inspect({"folder.fwb"}).status, 67);
    EXPECT_EQ(inspect({"--update-data", "missing.xml"}).status, 67);
}

TEST_F(Fwbinspect, TheBundledBaseImageIsWhatItsGeneratorMakes) {
    const RunResult made = run_program(dir.path(), MAKE_EXAMPLE_IMAGE_PATH,
                                       {"regenerated.fwb", "262144", "65536", "4096", "2026"});
    ASSERT_EQ(made.status, 0);
    EXPECT_EQ(read_file(dir / "regenerated.fwb"), read_file(dir / "example-base.fwb"));
    EXPECT_EQ(inspect({"example-base.fwb"}).status, 0);
}

TEST_F(Fwbinspect, CountsOfOneReadInTheSingular) {
    write_file(dir / "one.xml", R"(<pciid vid="fb2f" did="0a01" sdid="0001" svid="fb2f" />)"
                                "\n<mac>0a</mac>\n<phy>0b</phy>\n<exprom>yes</exprom>\n"
                                "<image>example-base.fwb</image>\n");
    const RunResult check = inspect({"--update-data", "one.xml"});
    EXPECT_EQ(check.out, "device vid=fb2f did=0a01 svid=fb2f ssid=0001: lines 1 to 5, mac 1 byte, "
                         "phy 1 byte, exprom 0, image \"example-base.fwb\"\n"
                         "line 4: <exprom> value is neither \"True\" nor \"False\": it switches "
                         "the expansion ROM off\n"
                         "1 device, 1 problem\n");
    ASSERT_EQ(run_program(dir.path(), FWBFORGE2_PATH,
                          {"fb2f", "0a01", "fb2f", "0001", "one.xml", "one.fwb"})
                  .status,
              0);
    const RunResult image = inspect({"one.fwb"});
    EXPECT_EQ(value_of(image.out, "entry 0"), "PHY, 1 byte, digest ok");
    EXPECT_EQ(value_of(image.out, "entry 1"), "MAC, 1 byte, digest ok");
}

TEST_F(Fwbinspect, TheStreamedUpdateDataReportIsTheJsonTheLibraryWouldPrint) {
    write_file(dir / "empty.xml", "");
    write_file(dir / "odd.xml", R"(<pciid vid="fb2f" did="0a01" sdid="0001" svid="fb2f" />)"
                                "\n<mac>0a0</mac>\n<image>\xff\"x\n");
    // Entries open at the end of the file close there, after the last line is read.
    write_file(dir / "open.xml", read_file(dir / "update-data.xml") +
                                     R"(<pciid vid="fb2f" did="0b01" sdid="0001" svid="fb2f" />)" +
                                     R"(<pciid vid="fb2f" did="0b02" sdid="0001" svid="fb2f" />)");
    const std::vector<std::pair<const char*, std::size_t>> files = {
        {"update-data.xml", 4}, {"empty.xml", 0}, {"odd.xml", 1}, {"open.xml", 6}};
    for (const auto& [file, devices] : files) {
        const RunResult r = inspect({"--update-data", file, "--json"});
        const nlohmann::ordered_json report = nlohmann::ordered_json::parse(r.out);
        EXPECT_EQ(report.dump(2, ' ', false, json::error_handler_t::replace) + "\n", r.out) << file;
        EXPECT_EQ(report["status"], r.status) << file;
        EXPECT_EQ(report["ok"], r.status == 0) << file;
        EXPECT_EQ(report["devices"].size(), devices) << file;
        const RunResult text = inspect({"--update-data", file});
        EXPECT_NE(
            text.out.find(std::to_string(devices) + (devices == 1 ? " device, " : " devices, ")),
            std::string::npos)
            << text.out;
    }
    const RunResult missing = inspect({"--update-data", "missing.xml", "--json"});
    const json failed = json::parse(missing.out);
    EXPECT_EQ(missing.status, 67);
    EXPECT_EQ(failed["status"], 67);
    EXPECT_EQ(failed["messages"], json::array({"Unable to open file! missing.xml"}));
}
