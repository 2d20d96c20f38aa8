// End to end: fwbinspect's --expect, --diff and --extract and several images at
// once, on images fwbforge2 wrote from the bundled example.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr std::size_t kRegion = 65536; // the example's bdpOffset
constexpr std::size_t kData = kRegion + 288;
constexpr std::size_t kImageSize = 262144;
const std::vector<std::string> kDevice = {"fb2f", "0a02", "fb2f", "0011"};

class FwbinspectModes : public testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"update-data.xml", "example-base.fwb"}) {
            fs::copy_file(fs::path(EXAMPLES_DIR) / name, dir / name);
        }
        provision(kDevice, "device.fwb");
    }

    RunResult inspect(const std::vector<std::string>& args) const {
        return run_program(dir.path(), FWBINSPECT_PATH, args);
    }

    void provision(std::vector<std::string> args, const std::string& output) const {
        args.insert(args.end(), {"update-data.xml", output});
        ASSERT_EQ(run_program(dir.path(), FWBFORGE2_PATH, args).status, 0) << output;
    }

    RunResult expect(const std::string& image, std::vector<std::string> extra = {}) const {
        std::vector<std::string> args = {image, "--expect"};
        args.insert(args.end(), kDevice.begin(), kDevice.end());
        args.push_back("update-data.xml");
        args.insert(args.end(), extra.begin(), extra.end());
        return inspect(args);
    }

    void flip_byte(const std::string& name, std::size_t offset) const {
        std::string bytes = read_file(dir / name);
        bytes[offset] = static_cast<char>(bytes[offset] ^ 0x01);
        write_file(dir / name, bytes);
    }

    TempDir dir;
};

// The "differs" lines of a report, as "PART@OFFSET".
std::vector<std::string> differences_of(const std::string& report) {
    std::vector<std::string> parts;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("differs ")) {
            const std::string value = line.substr(line.find(": ") + 2);
            const std::size_t comma = value.rfind(", first at ");
            parts.push_back(value.substr(0, comma) + "@" +
                            std::to_string(std::stoul(value.substr(comma + 11), nullptr, 16)));
        }
    }
    return parts;
}

std::vector<std::string> differences_of(const json& report) {
    std::vector<std::string> parts;
    for (const json& difference : report["differences"]) {
        parts.push_back(std::string(difference["part"]) + "@" +
                        std::to_string(std::uint64_t(difference["offset"])));
    }
    return parts;
}

std::string last_line(const std::string& report) {
    const std::size_t end = report.rfind('\n', report.size() - 2);
    return report.substr(end == std::string::npos ? 0 : end + 1);
}

struct FlipCase {
    std::size_t offset;
    std::string part;
};

std::string at(std::string part, std::size_t offset) {
    return part + "@" + std::to_string(offset);
}

} // namespace

TEST_F(FwbinspectModes, ExpectNamesThePartOfEachFlippedByte) {
    const RunResult right = expect("device.fwb");
    EXPECT_EQ(right.status, 0) << right.out;
    EXPECT_EQ(last_line(right.out), "verdict            : as expected\n");
    EXPECT_NE(right.out.find("base chain         : verified\n"), std::string::npos);
    const std::vector<FlipCase> cases = {
        {5, "header digest"},
        {40, "content before the region"},
        {230, "second-area digest"},
        {3000, "content before the region"},
        {4113, "expansion-ROM descriptor"},
        {4128, "bdpOffset"},
        {4134, "bdpSize"},
        {4150, "table digest"},
        {kRegion, "table entry 0 type"},
        {kRegion + 2, "table entry 0 length"},
        {kRegion + 30, "table entry 0 digest"},
        {kRegion + 36 + 1, "table entry 1 length"},
        {kRegion + 7 * 36 + 4, "table entry 7 digest"},
        {kData + 3, "PHY blob"},
        {kData + 24 + 31, "MAC blob"},
        {kData + 56, "region padding"},
        {kRegion + 4095, "region padding"},
        {20000, "content before the region"},
        {kRegion + 4096, "content after the region"},
        {kImageSize - 1, "content after the region"},
    };
    for (const FlipCase& c : cases) {
        write_file(dir / "flipped.fwb", read_file(dir / "device.fwb"));
        flip_byte("flipped.fwb", c.offset);
        const RunResult r = expect("flipped.fwb");
        EXPECT_EQ(r.status, 69) << c.part;
        EXPECT_EQ(differences_of(r.out), std::vector{at(c.part, c.offset)}) << r.out;
        EXPECT_EQ(last_line(r.out), "verdict            : NOT AS EXPECTED\n");
        const json report = json::parse(expect("flipped.fwb", {"--json"}).out);
        EXPECT_EQ(differences_of(report), differences_of(r.out));
        EXPECT_FALSE(report["as_expected"]);
        EXPECT_EQ(report["status"], 69);
    }
}

TEST_F(FwbinspectModes, ExpectTellsAnotherDevicesImageAnotherBaseAndAShortImage) {
    provision({"fb2f", "0a01", "fb2f", "0001"}, "other-device.fwb");
    const std::vector<std::string> otherDevice = {at("header digest", 0),
                                                  at("second-area digest", 224),
                                                  at("expansion-ROM descriptor", 4112),
                                                  at("table digest", 4140),
                                                  at("table entry 0 digest", kRegion + 4),
                                                  at("table entry 1 digest", kRegion + 40),
                                                  at("PHY blob", kData + 3),
                                                  at("MAC blob", kData + 24 + 15)};
    EXPECT_EQ(differences_of(expect("other-device.fwb").out), otherDevice);

    // The same layout with other content: the base that was meant is not the one named.
    write_file(dir / "other-base.fwb", make_image({kImageSize, kRegion, 4096, 5}));
    const RunResult otherBase = expect("device.fwb", {"--base", "other-base.fwb"});
    EXPECT_EQ(otherBase.status, 69);
    EXPECT_NE(otherBase.out.find("base image         : \"other-base.fwb\", 262144 bytes (given "
                                 "with --base)\n"),
              std::string::npos)
        << otherBase.out;
    const std::vector<std::string> parts = differences_of(otherBase.out);
    ASSERT_FALSE(parts.empty());
    EXPECT_EQ(parts.front(), at("header digest", 0));
    EXPECT_NE(std::find(parts.begin(), parts.end(), at("content after the region", kRegion + 4096)),
              parts.end());
    EXPECT_NE(otherBase.out.find("base chain         : verified"), std::string::npos);
    EXPECT_EQ(expect("device.fwb", {"--base", "example-base.fwb"}).status, 0);

    write_file(dir / "short.fwb", read_file(dir / "device.fwb").substr(0, 200000));
    const RunResult cut = expect("short.fwb");
    EXPECT_EQ(cut.status, 69);
    EXPECT_EQ(differences_of(cut.out), std::vector{at("length", 200000)});

    const RunResult unprovisioned = expect("example-base.fwb");
    EXPECT_EQ(unprovisioned.status, 69);
    EXPECT_GE(differences_of(unprovisioned.out).size(), 4u);
}

struct RefusalCase {
    std::string name;
    std::string updateData; // written as update.xml; empty for the example's
    std::vector<std::string> device;
    std::string line; // the report's "refused" line, or its start
    int status;
};

TEST_F(FwbinspectModes, ExpectSaysWhatFwbforge2WouldRefuseWithItsStatus) {
    const std::string key = R"(<pciid vid="fb2f" did="0a01" sdid="0001" svid="fb2f" />)";
    const auto entry = [&](std::string mac, std::string image) {
        return key + "\n<mac>" + mac + "</mac>\n<phy>0c</phy>\n<image>" + image + "</image>\n";
    };
    write_file(dir / "tiny-region.fwb", make_image({8192, 6144, 300, 2}));
    write_file(dir / "region-past-end.fwb", make_image({8192, 6144, 4096, 2}));
    fs::create_directory(dir / "folder.fwb");
    const std::vector<std::string> board = {"fb2f", "0a01", "fb2f", "0001"};
    const std::vector<RefusalCase> cases = {
        {"no entry",
         "",
         {"fb2f", "0a09", "fb2f", "0001"},
         "no entry for the device in the update data",
         69},
        {"odd MAC", entry("0a0", "example-base.fwb"), board,
         "the MAC text has an odd length (fwbforge2: Odd mac_string)", 69},
        {"non-hex MAC", entry("0x", "example-base.fwb"), board,
         "the MAC text holds a character that is not a hex digit (fwbforge2: Bad mac_string)", 69},
        {"long MAC", entry(std::string(2050, 'a'), "example-base.fwb"), board,
         "the MAC text is longer than 1024 bytes (fwbforge2: Long mac_string)", 69},
        {"missing base", entry("0a", "nowhere.fwb"), board,
         "the base image \"nowhere.fwb\" does not exist", 69},
        {"region too small", entry(std::string(600, 'a'), "tiny-region.fwb"), board,
         "the base image's BDP region is too small", 69},
        {"region past the end", entry("0a", "region-past-end.fwb"), board,
         "the base image's BDP region starts inside its header or ends past its end", 69},
    };
    for (const RefusalCase& c : cases) {
        const std::string updateData = c.updateData.empty() ? "update-data.xml" : "update.xml";
        if (!c.updateData.empty()) {
            write_file(dir / "update.xml", c.updateData);
        }
        std::vector<std::string> args = {"device.fwb", "--expect"};
        args.insert(args.end(), c.device.begin(), c.device.end());
        args.push_back(updateData);
        const RunResult r = inspect(args);
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_NE(r.out.find("refused            : " + c.line), std::string::npos) << c.name << "\n"
                                                                                   << r.out;
        EXPECT_EQ(last_line(r.out), "verdict            : NOT AS EXPECTED\n") << c.name;
        args[0] = "no-such.fwb";
        EXPECT_EQ(inspect(args).status, 67) << c.name << ": the image itself cannot be read";
    }
    write_file(dir / "update.xml", entry("0a", "folder.fwb"));
    const RunResult folder =
        inspect({"device.fwb", "--expect", "fb2f", "0a01", "fb2f", "0001", "update.xml"});
    EXPECT_EQ(folder.status, 67);
    EXPECT_EQ(folder.out, "Unable to read fwb folder.fwb\n");
    EXPECT_EQ(
        inspect({"device.fwb", "--expect", "fb2f", "0a01", "fb2f", "0001", "nowhere.xml"}).out,
        "Unable to open file! nowhere.xml\n");
    const RunResult badVid =
        inspect({"device.fwb", "--expect", "18086", "0a01", "fb2f", "0001", "update.xml"});
    EXPECT_EQ(badVid.status, 1);
    EXPECT_EQ(badVid.out,
              "refused            : VID 18086 does not fit 16 bits (fwbforge2: Bad VID 18086)\n");
    const RunResult badVidJson = inspect(
        {"device.fwb", "--expect", "18086", "0a01", "fb2f", "0001", "update.xml", "--json"});
    EXPECT_EQ(badVidJson.status, 1);
    EXPECT_EQ(json::parse(badVidJson.out)["messages"],
              json::array({"refused            : VID 18086 does not fit 16 bits (fwbforge2: Bad "
                           "VID 18086)"}));
    EXPECT_EQ(
        inspect({"device.fwb", "--expect", "0x0fb2f", "0a02", "+fb2f", "11h", "update-data.xml"})
            .status,
        0)
        << "identifiers read as fwbforge2 reads them";
}

TEST_F(FwbinspectModes, DiffNamesEachDifferingPartAndTheLength) {
    provision({"fb2f", "0a03", "fb30", "0001"}, "small-blobs.fwb");
    const RunResult same = inspect({"--diff", "device.fwb", "device.fwb"});
    EXPECT_EQ(same.status, 0);
    EXPECT_EQ(last_line(same.out), "verdict            : identical\n");
    const RunResult other = inspect({"--diff", "device.fwb", "small-blobs.fwb"});
    EXPECT_EQ(other.status, 69);
    EXPECT_EQ(
        differences_of(other.out),
        (std::vector<std::string>{
            at("header digest", 0), at("second-area digest", 224), at("table digest", 4140),
            at("table entry 0 length", kRegion + 1), at("table entry 0 digest", kRegion + 4),
            at("table entry 1 length", kRegion + 37), at("table entry 1 digest", kRegion + 40),
            at("PHY blob", kData), at("MAC blob", kData + 24)}))
        << other.out;
    const json report =
        json::parse(inspect({"--diff", "device.fwb", "small-blobs.fwb", "--json"}).out);
    EXPECT_EQ(differences_of(report), differences_of(other.out));
    EXPECT_FALSE(report["identical"]);
    EXPECT_EQ(report["b"]["path"], "small-blobs.fwb");

    // The same device from a base whose region lies elsewhere: the regions are
    // compared with each other, the rest at the same offsets.
    std::string moved = read_file(dir / "example-base.fwb");
    std::swap_ranges(moved.begin() + kRegion, moved.begin() + kRegion + 4096,
                     moved.begin() + 2 * kRegion);
    put_le32(moved, 0x1020, 2 * kRegion);
    write_file(dir / "moved-base.fwb", moved);
    std::string movedUpdate = read_file(dir / "update-data.xml");
    for (std::size_t at; (at = movedUpdate.find("example-base.fwb")) != std::string::npos;) {
        movedUpdate.replace(at, 16, "moved-base.fwb");
    }
    write_file(dir / "update-data.xml", movedUpdate);
    provision(kDevice, "moved.fwb");
    EXPECT_EQ(differences_of(inspect({"--diff", "device.fwb", "moved.fwb"}).out),
              (std::vector<std::string>{at("header digest", 0), at("second-area digest", 224),
                                        at("bdpOffset", 0x1022)}));

    // Regions of different sizes are compared as far as the larger reaches.
    write_file(dir / "large-region.fwb", make_image({65536, 8192, 8192, 3}));
    std::string smallRegion = make_image({65536, 8192, 4096, 3});
    smallRegion[14000] = static_cast<char>(smallRegion[14000] ^ 1);
    write_file(dir / "small-region.fwb", smallRegion);
    const std::vector<std::string> sized =
        differences_of(inspect({"--diff", "large-region.fwb", "small-region.fwb"}).out);
    EXPECT_TRUE(std::any_of(sized.begin(), sized.end(), [](const std::string& d) {
        return d.ends_with("@14000");
    })) << testing::PrintToString(sized);

    write_file(dir / "longer.fwb", read_file(dir / "device.fwb") + "tail");
    EXPECT_EQ(differences_of(inspect({"--diff", "device.fwb", "longer.fwb"}).out),
              std::vector{at("length", kImageSize)});
    const RunResult missing = inspect({"--diff", "device.fwb", "missing.fwb"});
    EXPECT_EQ(missing.status, 67);
    EXPECT_EQ(missing.out, "Unable to read fwb missing.fwb\n");
}

TEST_F(FwbinspectModes, ExtractWritesEachBlobOnceAndNeverOverwrites) {
    const RunResult r = inspect({"device.fwb", "--extract", "blobs"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "wrote              : \"blobs/entry-0-phy.bin\", PHY, 24 bytes, digest ok\n"
                     "wrote              : \"blobs/entry-1-mac.bin\", MAC, 32 bytes, digest ok\n"
                     "extracted          : 2 blobs into \"blobs\"\n");
    const std::string image = read_file(dir / "device.fwb");
    EXPECT_EQ(read_file(dir / "blobs" / "entry-0-phy.bin"), image.substr(kData, 24));
    EXPECT_EQ(read_file(dir / "blobs" / "entry-1-mac.bin"), image.substr(kData + 24, 32));

    write_file(dir / "blobs" / "entry-0-phy.bin", "mine");
    const RunResult again = inspect({"device.fwb", "--extract", "blobs"});
    EXPECT_EQ(again.status, 67);
    EXPECT_NE(again.err.find("cannot create blobs/entry-0-phy.bin: File exists"),
              std::string::npos);
    EXPECT_EQ(read_file(dir / "blobs" / "entry-0-phy.bin"), "mine");

    // A third entry of type 7 whose blob runs past the region, and a MAC blob
    // whose digest no longer holds: the one is refused, the other written.
    std::string odd = image;
    put_le32(odd, kRegion + 2 * 36, 7 | 5000u << 8);
    odd[kData + 24] = static_cast<char>(odd[kData + 24] ^ 1);
    write_file(dir / "odd.fwb", odd);
    const RunResult outside = inspect({"odd.fwb", "--extract", "odd/"});
    EXPECT_EQ(outside.status, 69) << outside.out;
    EXPECT_EQ(outside.out,
              "wrote              : \"odd/entry-0-phy.bin\", PHY, 24 bytes, digest ok\n"
              "wrote              : \"odd/entry-1-mac.bin\", MAC, 32 bytes, digest MISMATCH\n"
              "not written        : entry 2 (7, 5000 bytes): the blob lies outside the region\n"
              "extracted          : 2 blobs into \"odd/\"\n");
    write_file(dir / "plain", "x");
    EXPECT_EQ(inspect({"device.fwb", "--extract", "plain"}).status, 67);

    // No region to take blobs from: nothing is made, and the image fails.
    write_file(dir / "empty.fwb", "");
    write_file(dir / "region-cut.fwb", image.substr(0, kRegion + 2048));
    for (const std::string broken : {"empty.fwb", "region-cut.fwb"}) {
        const RunResult none = inspect({broken, "--extract", "none"});
        EXPECT_EQ(none.status, 69) << broken;
        EXPECT_TRUE(none.out.starts_with("not extracted      : the BDP region")) << none.out;
        EXPECT_FALSE(fs::exists(dir / "none")) << broken;
    }
}

TEST_F(FwbinspectModes, SeveralImagesAreReportedInTurnWithTheWorstStatus) {
    write_file(dir / "cut.fwb", read_file(dir / "device.fwb").substr(0, 100));
    const RunResult one = inspect({"device.fwb"});
    const RunResult both = inspect({"device.fwb", "example-base.fwb"});
    EXPECT_EQ(both.status, 0);
    EXPECT_EQ(both.out, one.out + "\n" + inspect({"example-base.fwb"}).out);
    EXPECT_EQ(inspect({"device.fwb", "cut.fwb"}).status, 69);
    EXPECT_EQ(inspect({"cut.fwb", "missing.fwb", "device.fwb"}).status, 67);
    const json document = json::parse(inspect({"device.fwb", "missing.fwb", "--json"}).out);
    EXPECT_EQ(document["status"], 67);
    EXPECT_FALSE(document["verified"]);
    const json& list = document["images"];
    ASSERT_EQ(list.size(), 2u);
    EXPECT_TRUE(list[0]["verified"]);
    EXPECT_EQ(list[1], (json{{"path", "missing.fwb"},
                             {"readable", false},
                             {"verified", false},
                             {"messages", {"Unable to read fwb missing.fwb"}}}));
    EXPECT_EQ(json::parse(inspect({"device.fwb", "--json"}).out)["images"].size(), 1u);
}

struct JsonPathCase {
    std::vector<std::string> args;
    std::string kind;
    int status;
    std::vector<std::string> messages;
};

// Whatever fails, --json prints one document saying so, and no text.
TEST_F(FwbinspectModes, EveryJsonPathPrintsOneDocument) {
    const std::vector<std::string> expect = {"--expect", "fb2f", "0a01", "fb2f", "0001"};
    const auto with = [](std::vector<std::string> head, std::vector<std::string> tail) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    const std::vector<JsonPathCase> cases = {
        {{"nosuch.fwb"}, "images", 67, {}},
        {with(with({"nosuch.fwb"}, expect), {"update-data.xml"}),
         "expect",
         67,
         {"Unable to read fwb nosuch.fwb"}},
        {with(with({"device.fwb"}, expect), {"nowhere.xml"}),
         "expect",
         67,
         {"Unable to open file! nowhere.xml"}},
        {{"--diff", "device.fwb", "nosuch.fwb"}, "diff", 67, {"Unable to read fwb nosuch.fwb"}},
        {{"--diff", "gone.fwb", "nosuch.fwb"},
         "diff",
         67,
         {"Unable to read fwb gone.fwb", "Unable to read fwb nosuch.fwb"}},
        {{"--update-data", "nowhere.xml"}, "update_data", 67, {"Unable to open file! nowhere.xml"}},
        {{"--frobnicate"}, "usage_error", 1, {}},
        {{"--diff", "device.fwb"}, "usage_error", 1, {}},
    };
    for (const JsonPathCase& c : cases) {
        const RunResult r = inspect(with(c.args, {"--json"}));
        SCOPED_TRACE(r.out);
        EXPECT_EQ(r.status, c.status);
        const json document = json::parse(r.out);
        EXPECT_EQ(document["schema_version"], 1);
        EXPECT_EQ(document["kind"], c.kind);
        EXPECT_EQ(document["tool"], "fwbinspect");
        EXPECT_EQ(document["status"], c.status);
        if (!c.messages.empty()) {
            EXPECT_EQ(document["messages"], c.messages);
        }
        EXPECT_NE(r.err, "") << "the reason still goes to standard error";
    }
}
