// End to end: the real fwbforge2 in a fresh directory; its standard output byte
// for byte, its exit status and the bytes it leaves on disk.
#include "platform/platform.h"
#include "tests/support/process.h"
#include "tests/support/test_support.h"

#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kDevice = {"fb2f", "0a01", "fb2f", "0001"};
const std::string kKeyLine = R"(<pciid vid="fb2f" did="0a01" sdid="0001" svid="fb2f" />)";
const ImageShape kBase = {64 * 1024 + 5, 0x2000, 0x400, 1};
constexpr std::size_t kLineCap = 64 * 1024 * 1024;
const std::string kNotFound69 =
    "fwbforge2: get_xml_data() returns 69\nfwbforge2: readBdp() returns 69\n";

std::string entry(std::string_view mac, std::string_view phy, std::string_view image,
                  std::string_view exprom = "False", std::string_view key = kKeyLine) {
    return "<devices>\n  <device>\n    " + std::string(key) + "\n    <mac>" + std::string(mac) +
           "</mac>\n    <phy>" + std::string(phy) + "</phy>\n    <exprom>" + std::string(exprom) +
           "</exprom>\n    <image>" + std::string(image) + "</image>\n  </device>\n</devices>\n";
}

std::string progress(std::string_view image, int mac, int phy, int exprom = 0) {
    return "exprom        :" + std::to_string(exprom) + "\nImage Name    :" + std::string(image) +
           "\nmacBdpLen     :" + std::to_string(mac) + "\nphyBdpLen     :" + std::to_string(phy) +
           "\n";
}

class Fwbforge2 : public testing::Test {
  protected:
    void SetUp() override {
        write_file(dir / "update.xml", entry("0a0b0c", "d0d1", "base.fwb"));
        write_base(kBase);
    }

    void write_base(const ImageShape& shape) {
        base = make_image(shape);
        write_file(dir / "base.fwb", base);
    }

    RunResult run(const std::vector<std::string>& args, const RunOptions& options = {}) const {
        return run_program(dir.path(), FWBFORGE2_PATH, args, options);
    }

    RunResult run_device(std::string_view output, const RunOptions& options = {}) const {
        std::vector<std::string> args = kDevice;
        args.push_back("update.xml");
        args.push_back(std::string(output));
        return run(args, options);
    }

    void expect_base_untouched() const { EXPECT_EQ(read_file(dir / "base.fwb"), base); }

    TempDir dir;
    std::string base;
};

TEST_F(Fwbforge2, ProvisionsTheBaseImageAndPrintsTheRun) {
    const RunResult r = run_device("out.fwb");
    EXPECT_EQ(r.out, progress("base.fwb", 3, 2) + "Custom fwb generated  out.fwb\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    expect_provisioned(base, read_file(dir / "out.fwb"), "\xd0\xd1", "\x0a\x0b\x0c", true);
    expect_base_untouched();
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"base.fwb", "out.fwb", "update.xml"}));
}

struct PlacementCase {
    std::string name;
    ImageShape shape;
    std::string exprom; // empty: the entry has no <exprom> tag
    std::string mac = "0a0b0c";
    std::string phy = "d0d1";
};

std::string entry_without_exprom(std::string_view mac, std::string_view phy) {
    return kKeyLine + "\n<mac>" + std::string(mac) + "</mac>\n<phy>" + std::string(phy) +
           "</phy>\n<image>base.fwb</image>\n";
}

TEST_F(Fwbforge2, KeepsEveryByteOutsideTheRegionWhereverTheRegionLies) {
    const std::vector<PlacementCase> cases = {
        {"region right after the header", {8192, 6144, 2048, 2}, "False"},
        {"region exactly large enough", {9000, 7000, 288 + 4 + 4, 3}, "False"},
        {"region larger than table and data area", {20000, 6200, 6000, 4}, "False"},
        {"region ending the file", {12000, 8000, 4000, 5}, "False"},
        {"length not a multiple of any block", {(1 << 20) + 77, 0x9000, 0x800, 6}, "False"},
        {"expansion ROM left on", kBase, "True"},
        {"no <exprom> tag leaves the expansion ROM on", kBase, ""},
        {"exactly large enough, the last blob empty", {9000, 7000, 288 + 4, 7}, "False", ""},
        {"a table-only region ending the file", {7288, 7000, 288, 8}, "False", "", ""},
    };
    for (const PlacementCase& c : cases) {
        write_base(c.shape);
        write_file(dir / "update.xml", c.exprom.empty()
                                           ? entry_without_exprom(c.mac, c.phy)
                                           : entry(c.mac, c.phy, "base.fwb", c.exprom));
        const RunResult r = run_device("out.fwb");
        SCOPED_TRACE(c.name);
        const bool cleared = c.exprom == "False";
        EXPECT_EQ(r.out, progress("base.fwb", static_cast<int>(c.mac.size() / 2),
                                  static_cast<int>(c.phy.size() / 2), cleared ? 0 : 1) +
                             "Custom fwb generated  out.fwb\n");
        EXPECT_EQ(r.status, 0);
        expect_provisioned(base, read_file(dir / "out.fwb"), hex_to_bytes(c.phy),
                           hex_to_bytes(c.mac), cleared);
        expect_base_untouched();
        const RunResult inspected = run_program(dir.path(), FWBINSPECT_PATH, {"out.fwb"});
        EXPECT_EQ(inspected.status, 0) << inspected.out;
    }
}

struct FailureCase {
    std::string name;
    ImageShape shape;
    std::string updateData;
    std::string out;
    int status;
};

TEST_F(Fwbforge2, AFailedRunPrintsItsLinesAndLeavesTheOutputAsItWas) {
    const std::string good = entry("0a0b0c", "d0d1", "base.fwb");
    const std::string provisionFails = progress("base.fwb", 3, 2);
    const std::string returns67 = "fwbforge2: provisionFile() returns 67\n";
    const std::string returns69 = "fwbforge2: provisionFile() returns 69\n";
    const std::string invalid = "Invalid BDP region in input fwb base.fwb\n";
    const std::string readBdp = "exprom        :0\nImage Name    :base.fwb\n";
    const std::string withNul("bas\0e.fwb", 9);
    const std::vector<FailureCase> cases = {
        {"no entry", kBase, entry("0a0b", "d0", "base.fwb", "False", "<pciid vid=\"fb2f\" />"),
         kNotFound69, 69},
        {"a line past the cap before the entry", kBase,
         std::string(kLineCap + 1, 'x') + "\n" + good,
         "Update data line too long update.xml\n" + kNotFound69, 69},
        {"odd MAC text", kBase, entry("0a0b0", "d0d1", "base.fwb"),
         readBdp + "fwbforge2: Odd mac_string\nfwbforge2: readBdp() returns 1\n", 1},
        {"non-hex PHY text", kBase, entry("0a0b0c", "d0 1", "base.fwb"),
         readBdp + "fwbforge2: Bad phy_string\nfwbforge2: readBdp() returns 65\n", 65},
        {"MAC text over 1024 bytes", kBase, entry(std::string(2050, 'a'), "d0d1", "base.fwb"),
         readBdp + "fwbforge2: Long mac_string\nfwbforge2: readBdp() returns 69\n", 69},
        {"base image missing", kBase, entry("0a0b0c", "d0d1", "gone.fwb"),
         progress("gone.fwb", 3, 2) + "Input fwb not present gone.fwb\n" + returns67, 67},
        {"image name carrying its line feed", kBase,
         kKeyLine + "<mac>0a0b0c</mac><phy>d0d1</phy><exprom>False<\n<image>base.fwb\n",
         progress("base.fwb\n", 3, 2) + "Input fwb not present base.fwb\n\n" + returns67, 67},
        {"image name holding a NUL", kBase, entry("0a0b0c", "d0d1", withNul),
         progress(withNul, 3, 2) + "Input fwb not present " + withNul + "\n" + returns67, 67},
        {"region too small",
         {9000, 7000, 288 + 4 + 3, 1},
         good,
         provisionFails + "PHY and MAC BDP length Check\n " + returns69,
         69},
        {"region overlapping the header",
         {9000, 4096, 1024, 1},
         good,
         provisionFails + invalid + returns69,
         69},
        {"region past the end",
         {9000, 8000, 1024, 1},
         good,
         provisionFails + invalid + returns69,
         69},
        {"region end beyond 32 bits",
         {9000, 0xFFFFFF00, 0x200, 1},
         good,
         provisionFails + invalid + returns69,
         69},
        {"base shorter than its header",
         {5000, 6144, 1024, 1},
         good,
         provisionFails + invalid + returns69,
         69},
        {"an empty base",
         {0, 0, 0, 1},
         good,
         provisionFails + "PHY and MAC BDP length Check\n " + returns69,
         69},
        {"base without region fields",
         {4000, 0, 0, 1},
         good,
         provisionFails + "PHY and MAC BDP length Check\n " + returns69,
         69},
        {"base image a directory", kBase, entry("0a0b0c", "d0d1", "folder"),
         progress("folder", 3, 2) + "Input fwb not present folder\n" + returns67, 67},
    };
    fs::create_directory(dir / "folder");
    for (const FailureCase& c : cases) {
        write_base(c.shape);
        write_file(dir / "update.xml", c.updateData);
        for (const bool outputExists : {false, true}) {
            fs::remove(dir / "out.fwb");
            if (outputExists) {
                write_file(dir / "out.fwb", "previous image");
            }
            const RunResult r = run_device("out.fwb");
            EXPECT_EQ(r.out, c.out) << c.name;
            EXPECT_EQ(r.status, c.status) << c.name;
            // Standard error explains only a missing entry.
            EXPECT_EQ(r.err.empty(), c.name != "no entry") << c.name << r.err;
            EXPECT_EQ(fs::exists(dir / "out.fwb"), outputExists) << c.name;
            if (outputExists) {
                EXPECT_EQ(read_file(dir / "out.fwb"), "previous image") << c.name;
            }
            expect_base_untouched();
            EXPECT_TRUE(read_file(dir / "update.xml") == c.updateData) << c.name;
            EXPECT_EQ(dir.entries().size(), 3u + outputExists) << c.name << ": a file was left";
        }
    }
}

TEST_F(Fwbforge2, CommandLineFailuresAreReportedBeforeAnyOutput) {
    const RunResult usage = run({"fb2f", "0a01", "fb2f", "0001", "update.xml"});
    EXPECT_EQ(usage.out, "Usage:: fwbforge2 VID DID SVID SSID updatedata.xml output.fwb\n");
    EXPECT_EQ(usage.status, 1);

    const RunResult missing = run({"fb2f", "0a01", "fb2f", "0001", "nothing.xml", "out.fwb"});
    EXPECT_EQ(missing.out,
              "Unable to open file! nothing.xml\n"
              "fwbforge2: get_xml_data() returns 67\nfwbforge2: readBdp() returns 67\n");
    EXPECT_EQ(missing.status, 67);

    const RunResult unwritable = run_device("no/such/dir/out.fwb");
    EXPECT_EQ(unwritable.out,
              progress("base.fwb", 3, 2) + "fwbforge2: provisionFile() returns 67\n");
    EXPECT_EQ(unwritable.status, 67);
    EXPECT_FALSE(fs::exists(dir / "no"));
}

TEST_F(Fwbforge2, ReadsIdentifiersAsLenientBaseSixteenText) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"0xFB2F", "0X0a01", "  fb2f", "+1"}, kKeyLine},
        {{"fb2f", "a01", "fb2fzz", "0001"}, kKeyLine},
        {{"0000000000fb2f", "0a01h", "\tfb2f", "1 2"}, kKeyLine},
        {{"0", "zz", "0x", "-0"}, R"(<pciid vid="0000" did="0000" sdid="0000" svid="0000" />)"},
        {{"FFFF", "0x0000ffff", "1a2bh", " +0XfFfF"},
         R"(<pciid vid="ffff" did="ffff" sdid="ffff" svid="1a2b" />)"},
    };
    for (const auto& [ids, key] : cases) {
        write_file(dir / "update.xml", entry("0a0b0c", "d0d1", "base.fwb", "False", key));
        std::vector<std::string> args = ids;
        args.insert(args.end(), {"update.xml", "out.fwb", "ignored", "extra"});
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 0) << ids[0] << " " << ids[1] << " " << ids[2] << " " << ids[3]
                               << r.out;
    }
}

TEST_F(Fwbforge2, RefusesTheFirstIdentifierPastSixteenBitsBeforeOpeningAnything) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"18086", "0a01", "fb2f", "0001"}, "fwbforge2: Bad VID 18086\n"},
        {{"fb2f", "123456789", "fb2f", "0001"}, "fwbforge2: Bad DID 123456789\n"},
        {{"fb2f", "0a01", "-1", "0001"}, "fwbforge2: Bad SVID -1\n"},
        {{"fb2f", "0a01", "fb2f", "fffffffff"}, "fwbforge2: Bad SSID fffffffff\n"},
        {{"fb2f", "0a01", "fb2f", "-123456789"}, "fwbforge2: Bad SSID -123456789\n"},
        {{"-FFFF", "0x", "FFFFFFFF", "-0x2"}, "fwbforge2: Bad VID -FFFF\n"},
        {{"fb2f", "  0x10000", "-1", "zz"}, "fwbforge2: Bad DID   0x10000\n"},
    };
    for (const auto& [ids, out] : cases) {
        std::vector<std::string> args = ids;
        args.insert(args.end(), {"missing.xml", "out.fwb"});
        const RunResult r = run(args);
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(r.status, 1) << out;
        EXPECT_EQ(r.err, "") << out;
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"base.fwb", "update.xml"})) << out;
    }
}

struct OneLineCase {
    std::string name;
    std::string updateData;
    std::vector<std::string> device;
    std::string phy;
    std::string mac;
    int exprom;
};

TEST_F(Fwbforge2, EachDeviceOnALineReadsTheTagsAfterItsOwnKey) {
    const std::string first = R"(<pciid vid="fb2f" did="0a01" sdid="0001" svid="fb2f" />)";
    const std::string second = R"(<pciid vid="fb2f" did="0a02" sdid="0002" svid="fb2f" />)";
    const std::string firstValues = "<mac>0a0b0c</mac><phy>d0d1</phy><exprom>True</exprom>";
    const std::string secondValues = "<mac>1a1b</mac><phy>e0e1e2</phy><exprom>False</exprom>";
    const std::string image = "<image>base.fwb</image>";
    const std::string oneLine = first + firstValues + image + second + secondValues + image;
    std::string crOnly = "<devices>\r" + first + "\r" + firstValues + "\r" + image + "\r" + second +
                         "\r" + secondValues + "\r" + image + "\r</devices>\r";
    const std::vector<OneLineCase> cases = {
        {"one line, the first device", oneLine + "\n", kDevice, "\xd0\xd1", "\x0a\x0b\x0c", 1},
        {"one line, the second device",
         oneLine + "\n",
         {"fb2f", "0a02", "fb2f", "0002"},
         "\xe0\xe1\xe2",
         "\x1a\x1b",
         0},
        {"carriage returns only, the second device",
         crOnly,
         {"fb2f", "0a02", "fb2f", "0002"},
         "\xe0\xe1\xe2",
         "\x1a\x1b",
         0},
        {"the second device's values before the first key are not the first's",
         second + secondValues + first + "<phy>d0d1</phy>" + image + "\n", kDevice, "\xd0\xd1", "",
         1},
    };
    for (const OneLineCase& c : cases) {
        write_file(dir / "update.xml", c.updateData);
        std::vector<std::string> args = c.device;
        args.insert(args.end(), {"update.xml", "out.fwb"});
        const RunResult r = run(args);
        EXPECT_EQ(r.out, progress("base.fwb", static_cast<int>(c.mac.size()),
                                  static_cast<int>(c.phy.size()), c.exprom) +
                             "Custom fwb generated  out.fwb\n")
            << c.name;
        SCOPED_TRACE(c.name);
        expect_provisioned(base, read_file(dir / "out.fwb"), c.phy, c.mac, c.exprom == 0);
    }
}

TEST_F(Fwbforge2, RefusesToOverwriteTheBaseImageByAnyName) {
    fs::create_hard_link(dir / "base.fwb", dir / "hard.fwb");
    std::vector<std::string> outputs = {"base.fwb", "./base.fwb", "hard.fwb"};
    // Windows lets only the privileged make symbolic links.
    if (!kOnWindows) {
        fs::create_symlink("base.fwb", dir / "soft.fwb");
        outputs.push_back("soft.fwb");
    }
    for (const std::string& output : outputs) {
        const RunResult r = run_device(output);
        EXPECT_EQ(r.out, progress("base.fwb", 3, 2) + "Output fwb is the input fwb " + output +
                             "\nfwbforge2: provisionFile() returns 67\n");
        EXPECT_EQ(r.status, 67);
        expect_base_untouched();
    }
}

std::string file_error(std::string_view what, std::string_view path, std::string_view reason) {
    return "fwbforge2: " + std::string(what) + " " + std::string(path) + ": " +
           std::string(reason) + "\n";
}

// The system's own wording for the failure, as the tool should pass it on.
std::string reason_writing(const fs::path& path) {
    platform::File file;
    return platform::open_existing_for_writing(utf8_of(path), file).reason();
}

std::string reason_creating(const fs::path& path) {
    platform::File file;
    return platform::open_creating(utf8_of(path), file).reason();
}

struct UnsealedBaseCase {
    std::string name;
    std::vector<std::size_t> flippedBytes;
    std::string differing;
};

// A base image whose chain does not hold is still provisioned (builds may hand
// them over unsealed), with one warning that names what differs.
TEST_F(Fwbforge2, WarnsOfABaseImageWhoseDigestsDoNotHoldAndWritesTheImage) {
    const std::vector<UnsealedBaseCase> cases = {
        {"sealed", {}, ""},
        {"header digest", {5}, "header digest differs"},
        {"a byte the header digest covers", {100}, "header digest differs"},
        {"second-area digest, which the header digest covers",
         {230},
         "header digest, second-area digest differ"},
        {"a byte the second area covers", {5000}, "second-area digest differs"},
        {"the table", {0x2000 + 40}, "table digest differs"},
        {"never sealed", {5, 230, 4150}, "header digest, second-area digest, table digest differ"},
    };
    for (const UnsealedBaseCase& c : cases) {
        write_base(kBase);
        for (const std::size_t at : c.flippedBytes) {
            base[at] = static_cast<char>(base[at] ^ 0x20);
        }
        write_file(dir / "base.fwb", base);
        const RunResult r = run_device("out.fwb");
        EXPECT_EQ(r.out, progress("base.fwb", 3, 2) + "Custom fwb generated  out.fwb\n") << c.name;
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_EQ(r.err, c.differing.empty() ? ""
                                             : "fwbforge2: warning: base image base.fwb does not "
                                               "verify: " +
                                                   c.differing + "\n")
            << c.name;
        expect_provisioned(base, read_file(dir / "out.fwb"), "\xd0\xd1", "\x0a\x0b\x0c", true);
    }
}

// A base that shrinks while it is copied gives no short image: the run fails
// (67 while copying, 69 when the shrink came before the region was checked).
TEST_F(Fwbforge2, ABaseImageThatShrinksDuringTheRunGivesNoImage) {
    write_base({256 << 20, 0x2000, 0x400, 4});
    std::vector<std::string> args = kDevice;
    args.insert(args.end(), {"update.xml", "out.fwb"});
    process::Process run({FWBFORGE2_PATH, args, utf8_of(dir.path())});
    ASSERT_TRUE(run.read_until("phyBdpLen     :2\n"));
    fs::resize_file(dir / "base.fwb", 1 << 20);
    const RunResult r = run.wait();
    if (r.status == 0) {
        GTEST_SKIP() << "the copy ended before the base shrank";
    }
    const std::string start = progress("base.fwb", 3, 2);
    const std::string copyFailed =
        start + "Unable to write output fwb out.fwb\n" + "fwbforge2: provisionFile() returns 67\n";
    const std::string regionGone = start + "Invalid BDP region in input fwb base.fwb\n" +
                                   "fwbforge2: provisionFile() returns 69\n";
    EXPECT_TRUE(r.out == copyFailed || r.out == regionGone) << r.out;
    EXPECT_FALSE(fs::exists(dir / "out.fwb"));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"base.fwb", "update.xml"}));
}

// A block device has no size of its own to report: its length is where seeking ends.
TEST_F(Fwbforge2, ReadsABaseImageOnABlockDeviceToItsEnd) {
    if (kOnWindows) {
        GTEST_SKIP() << "loop devices are Linux's";
    }
    write_base({1 << 20, 0x2000, 0x400, 5});
    const RunResult attached =
        run_program(dir.path(), "/sbin/losetup", {"--find", "--show", "--read-only", "base.fwb"});
    if (!process::running_as_root() || attached.status != 0) {
        GTEST_SKIP() << "needs root and a free loop device: " << attached.err;
    }
    const std::string device = attached.out.substr(0, attached.out.find('\n'));
    write_file(dir / "update.xml", entry("0a0b0c", "d0d1", device));
    const RunResult r = run_device("out.fwb");
    run_program(dir.path(), "/sbin/losetup", {"--detach", device});
    EXPECT_EQ(r.out, progress(device, 3, 2) + "Custom fwb generated  out.fwb\n");
    expect_provisioned(base, read_file(dir / "out.fwb"), "\xd0\xd1", "\x0a\x0b\x0c", true);
}

struct OutputFaultCase {
    std::string name;
    std::string output;
    RunOptions options;
    std::string out;
    std::string err;
    int status;
};

// Each refusal or failed write: its stdout lines, the system's reason on stderr,
// the existing output exactly as it was and no file left behind.
TEST_F(Fwbforge2, AnOutputThatCannotBeWrittenIsExplainedAndLeftAsItWas) {
    const std::string start = progress("base.fwb", 3, 2);
    const std::string returns67 = "fwbforge2: provisionFile() returns 67\n";
    const std::string unable = "Unable to write output fwb ";
    fs::permissions(dir.path(), fs::perms::all);
    write_file(dir / "regular", "not a directory");
    fs::create_directory(dir / "folder.fwb");
    write_file(dir / "readonly.fwb", "previous image");
    fs::permissions(dir / "readonly.fwb", fs::perms(0444));
    write_file(dir / "out.fwb", "previous image");
    // Windows has no "not a directory": the path is missing, and so is the
    // directory the temporary file would go to.
    const std::string underRegular =
        kOnWindows ? file_error("cannot create a temporary file in", "regular",
                                reason_creating(dir / "regular/out.fwb"))
                   : file_error("cannot write to", "regular/out.fwb",
                                reason_writing(dir / "regular/out.fwb"));
    std::vector<OutputFaultCase> cases = {
        {"missing directory",
         "no/such/dir/out.fwb",
         {},
         start + returns67,
         file_error("cannot create a temporary file in", "no/such/dir",
                    reason_creating(dir / "no/such/dir/out.fwb")),
         67},
        {"path under a regular file", "regular/out.fwb", {}, start + returns67, underRegular, 67},
        {"a directory",
         "folder.fwb",
         {},
         start + returns67,
         file_error("cannot write to", "folder.fwb", reason_writing(dir / "folder.fwb")),
         67},
    };
    const std::vector<OutputFaultCase> posixOnly = {
        {"full device",
         "/dev/full",
         {},
         start + unable + "/dev/full\n" + returns67,
         file_error("cannot write", "/dev/full", "No space left on device"),
         67},
    };
    const OutputFaultCase sizeLimit = {"file-size limit, its signal left as it is",
                                       "out.fwb",
                                       {.fileSizeLimit = 16 * 1024, .ignoreSizeLimitSignal = false},
                                       start + unable + "out.fwb\n" + returns67,
                                       file_error("cannot write", "out.fwb", "File too large"),
                                       67};
    if (!kOnWindows) {
        cases.insert(cases.end(), posixOnly.begin(), posixOnly.end());
    }
    if (!kOnWindows && !kCountsCoverage) {
        cases.push_back(sizeLimit);
    }
    // The read-only attribute holds for everyone on Windows; POSIX's root passes 0444.
    const std::optional<std::uint32_t> nobody = ordinary_user();
    if (nobody || kOnWindows) {
        cases.push_back(
            {"read-only output, for an ordinary user",
             "readonly.fwb",
             {.user = nobody},
             start + returns67,
             file_error("cannot write to", "readonly.fwb",
                        kOnWindows ? reason_writing(dir / "readonly.fwb") : "Permission denied"),
             67});
    }
    for (const OutputFaultCase& c : cases) {
        const RunResult r = run_device(c.output, c.options);
        EXPECT_EQ(r.out, c.out) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(read_file(dir / "out.fwb"), "previous image") << c.name;
        EXPECT_EQ(read_file(dir / "readonly.fwb"), "previous image") << c.name;
        EXPECT_EQ(dir.entries(),
                  (std::vector<std::string>{"base.fwb", "folder.fwb", "out.fwb", "readonly.fwb",
                                            "regular", "update.xml"}))
            << c.name;
        expect_base_untouched();
    }
}

// The sticky, world-writable directory where another user plants a link to a
// file of root's: the system's protection refuses to follow it, and so does the tool.
TEST_F(Fwbforge2, ALinkPlantedInASharedDirectoryIsNotFollowed) {
    const std::optional<std::uint32_t> nobody = ordinary_user();
    const std::string protection = "/proc/sys/fs/protected_symlinks";
    if (!nobody || read_file(protection).empty()) {
        GTEST_SKIP() << "needs root and " << protection;
    }
    const std::string before = read_file(protection);
    write_file(protection, "1");
    if (read_file(protection) != "1\n") {
        GTEST_SKIP() << protection << " cannot be set here";
    }
    fs::create_directory(dir / "shared");
    fs::permissions(dir.path(), fs::perms::all);
    fs::permissions(dir / "shared", fs::perms::all | fs::perms::sticky_bit);
    write_file(dir / "precious", "root's file");
    const RunResult planted = run_program(
        dir.path(), "/bin/ln", {"-s", "../precious", "shared/out.fwb"}, {.user = nobody});
    const RunResult r = run_device("shared/out.fwb");
    write_file(protection, before);
    ASSERT_EQ(planted.status, 0) << planted.err;
    EXPECT_EQ(r.out, progress("base.fwb", 3, 2) + "fwbforge2: provisionFile() returns 67\n");
    EXPECT_EQ(r.err, file_error("cannot write to", "shared/out.fwb", "Permission denied"));
    EXPECT_EQ(r.status, 67);
    EXPECT_EQ(read_file(dir / "precious"), "root's file");
}

struct ReplacementCase {
    std::string name;
    std::uint32_t oldMode;
    bool oldOwnedByNobody;
    std::uint32_t newMode;
};

// The new image takes the old file's place: its permissions (never a set-ID bit)
// and owner; a hard link to the old file keeps the old content.
TEST_F(Fwbforge2, AReplacedOutputKeepsItsPermissionsAndOwnerButNoSetIdBits) {
    if (kOnWindows) {
        GTEST_SKIP() << "permission bits, set-ID bits and owners are POSIX's";
    }
    const std::optional<std::uint32_t> nobody = ordinary_user();
    std::vector<ReplacementCase> cases = {
        {"plain", 0604, false, 0604},
        {"set-user-ID", 04755, false, 0755},
        {"set-group-ID", 02640, false, 0640},
    };
    if (nobody) {
        cases.push_back({"another user's, set-group-ID", 02660, true, 0660});
    }
    for (const ReplacementCase& c : cases) {
        write_file(dir / "old.fwb", "previous image");
        fs::create_hard_link(dir / "old.fwb", dir / "second-name.fwb");
        if (c.oldOwnedByNobody) {
            ASSERT_EQ(run_program(dir.path(), "/bin/chown", {"nobody:nogroup", "old.fwb"}).status,
                      0);
        }
        fs::permissions(dir / "old.fwb", fs::perms(c.oldMode));
        const RunResult r = run_device("old.fwb");
        EXPECT_EQ(r.status, 0) << c.name << r.err;
        EXPECT_EQ(fs::status(dir / "old.fwb").permissions() & fs::perms::mask, fs::perms(c.newMode))
            << c.name;
        const RunResult owner =
            run_program(dir.path(), "/usr/bin/stat", {"-c", "%U:%G", "old.fwb"});
        EXPECT_EQ(owner.out, c.oldOwnedByNobody ? "nobody:nogroup\n" : "root:root\n") << c.name;
        expect_provisioned(base, read_file(dir / "old.fwb"), "\xd0\xd1", "\x0a\x0b\x0c", true);
        EXPECT_EQ(read_file(dir / "second-name.fwb"), "previous image") << c.name;
        fs::remove(dir / "second-name.fwb");
    }
}

struct LinkCase {
    std::string name;
    std::string linkTarget;
    bool targetExists;
};

TEST_F(Fwbforge2, AnOutputLinkKeepsItsPlaceAndWhatItLeadsToIsWritten) {
    if (kOnWindows) {
        GTEST_SKIP() << "Windows lets only the privileged make symbolic links";
    }
    const std::vector<LinkCase> cases = {
        {"link to an image", "images/device.fwb", true},
        {"link to a link", "second-link.fwb", true},
        {"dangling link", "images/new.fwb", false},
    };
    fs::create_directory(dir / "images");
    fs::create_symlink("images/device.fwb", dir / "second-link.fwb");
    for (const LinkCase& c : cases) {
        write_file(dir / "images" / "device.fwb", "previous image");
        fs::remove(dir / "link.fwb");
        fs::create_symlink(c.linkTarget, dir / "link.fwb");
        const RunResult r = run_device("link.fwb");
        EXPECT_EQ(r.out, progress("base.fwb", 3, 2) + "Custom fwb generated  link.fwb\n") << c.name;
        EXPECT_TRUE(fs::is_symlink(dir / "link.fwb")) << c.name;
        EXPECT_EQ(fs::read_symlink(dir / "link.fwb"), c.linkTarget) << c.name;
        expect_provisioned(base, read_file(dir / "link.fwb"), "\xd0\xd1", "\x0a\x0b\x0c", true);
        const std::string finalName = c.targetExists ? "device.fwb" : "new.fwb";
        EXPECT_TRUE(fs::is_regular_file(dir / "images" / finalName)) << c.name;
        fs::remove(dir / "images" / "new.fwb");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "images"), {}), 1);
}

TEST_F(Fwbforge2, ANewOutputFollowsTheUmask) {
    if (kOnWindows) {
        GTEST_SKIP() << "Windows has no creation mask";
    }
    ASSERT_EQ(run_device("new.fwb", {.umask = 027}).status, 0);
    EXPECT_EQ(fs::status(dir / "new.fwb").permissions() & fs::perms::mask, fs::perms(0640));
}

// Pipes and devices take the image in file order, straight through the name given.
TEST_F(Fwbforge2, WritesPipesAndDevicesDirectlyAndChecksEveryWrite) {
    ASSERT_EQ(run_device("expected.fwb").status, 0);
    const std::string image = read_file(dir / "expected.fwb");
    const std::string start = progress("base.fwb", 3, 2);
    const std::string null(platform::kNullDevice);
    const RunResult toNull = run_device(null);
    EXPECT_EQ(toNull.out, start + "Custom fwb generated  " + null + "\n");
    EXPECT_EQ(toNull.status, 0);
    EXPECT_EQ(toNull.err, "");
    if (kOnWindows) {
        GTEST_SKIP() << "/dev/stdout and FIFOs are POSIX's";
    }
    // Standard output is a pipe here: the image would land between the lines.
    const RunResult toPipe = run_device("/dev/stdout");
    EXPECT_EQ(toPipe.out, start + "fwbforge2: provisionFile() returns 67\n");
    EXPECT_EQ(toPipe.status, 67);
    EXPECT_EQ(toPipe.err, file_error("cannot write to", "/dev/stdout", "it is standard output"));

    ASSERT_EQ(run_program(dir.path(), "/usr/bin/mkfifo", {"fifo"}).status, 0);
    process::Process reader({"/usr/bin/head", {"-c", "100", "fifo"}, utf8_of(dir.path())});
    const RunResult leftEarly = run_device("fifo");
    EXPECT_EQ(reader.wait().out, image.substr(0, 100));
    EXPECT_EQ(leftEarly.out, start + "Unable to write output fwb fifo\n" +
                                 "fwbforge2: provisionFile() returns 67\n");
    EXPECT_EQ(leftEarly.err, file_error("cannot write", "fifo", "Broken pipe"));
    EXPECT_EQ(leftEarly.status, 67);
}

// Killed while it copies a large image, a run leaves what it printed so far, the
// old output and no temporary file, and ends by the signal.
TEST_F(Fwbforge2, ATerminatingSignalLeavesTheOldOutputAndNoTemporaryFile) {
    if (kOnWindows) {
        GTEST_SKIP() << "signals are POSIX's, and wine passes no console's Ctrl-Break to a child";
    }
    write_base({256 << 20, 0x2000, 0x400, 3});
    write_file(dir / "out.fwb", "previous image");
    const std::vector<process::Signal> signals = {
        process::Signal::interrupt, process::Signal::terminate, process::Signal::hang_up};
    const std::vector<int> statuses = {128 + 2, 128 + 15, 128 + 1};
    std::size_t killed = 0;
    for (std::size_t i = 0; i < signals.size(); ++i) {
        std::vector<std::string> args = kDevice;
        args.insert(args.end(), {"update.xml", "out.fwb"});
        process::Process run({FWBFORGE2_PATH, args, utf8_of(dir.path())});
        ASSERT_TRUE(run.read_until("phyBdpLen     :2\n"));
        run.send(signals[i]);
        const RunResult r = run.wait();
        if (r.status == 0) {
            continue; // it finished before the signal came: nothing to check
        }
        ++killed;
        EXPECT_EQ(r.status, statuses[i]);
        EXPECT_EQ(r.out, progress("base.fwb", 3, 2));
        EXPECT_EQ(read_file(dir / "out.fwb"), "previous image");
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"base.fwb", "out.fwb", "update.xml"}));
    }
    EXPECT_GT(killed, 0u) << "every run ended before its signal: a larger image is needed";
}

// Created, then replaced: a name past 255 bytes in all, a path past MAX_PATH
// and names beyond ASCII, taken whole in UTF-8.
TEST_F(Fwbforge2, UsesLongAndNonAsciiOutputPathsWhole) {
    const std::string longName(255, 'n');
    std::string deepPath;
    for (int level = 0; level < 6; ++level) {
        deepPath += std::string(60, static_cast<char>('a' + level)) + "/";
    }
    fs::create_directories(dir / deepPath);
    fs::create_directories(dir / "gerät");
    for (const std::string& output :
         {longName, deepPath + "out.fwb", std::string("gerät/ausgabe-ü.fwb")}) {
        for (int run = 0; run < 2; ++run) {
            const RunResult r = run_device(output);
            EXPECT_EQ(r.out, progress("base.fwb", 3, 2) + "Custom fwb generated  " + output + "\n");
            EXPECT_EQ(r.err, "");
            expect_provisioned(base, read_file(dir / output), "\xd0\xd1", "\x0a\x0b\x0c", true);
        }
    }
    EXPECT_EQ(dir.entries().size(), 5u) << "a temporary file was left";
    // Short names again, for a C runtime that reaches no path past MAX_PATH (Windows').
    platform::Directory top;
    ASSERT_FALSE(top.open(utf8_of(dir.path())).failed());
    EXPECT_FALSE(platform::rename_in(top, longName, "n").failed());
    fs::path shortened = dir.path();
    for (int level = 0; level < 6; ++level) {
        const std::string name(60, static_cast<char>('a' + level));
        fs::rename(shortened / name, shortened / name.substr(0, 1));
        shortened /= name.substr(0, 1);
    }
}

TEST_F(Fwbforge2, SixteenRunsAtOnceOnOneOutputEachSucceedAndLeaveOneWholeImage) {
    ASSERT_EQ(run_device("expected.fwb").status, 0);
    std::vector<std::thread> runs;
    std::vector<RunResult> results(16);
    for (RunResult& result : results) {
        runs.emplace_back([&] { result = run_device("out.fwb"); });
    }
    for (std::thread& run : runs) {
        run.join();
    }
    for (const RunResult& result : results) {
        EXPECT_EQ(result.status, 0) << result.out << result.err;
    }
    EXPECT_EQ(read_file(dir / "out.fwb"), read_file(dir / "expected.fwb"));
    EXPECT_EQ(dir.entries(),
              (std::vector<std::string>{"base.fwb", "expected.fwb", "out.fwb", "update.xml"}));
}

struct MemoryCase {
    std::string name;
    std::string updateData; // a path
    std::string out;
    long maxRssKiB;
};

TEST_F(Fwbforge2, UpdateDataNeedsMemoryForItsLongestLineOnlyUpToTheCap) {
    const std::string unmatchedKey = R"(<pciid vid="0000" did="0000" sdid="0000" svid="0000" />)";
    const std::string filler = "<!-- " + std::string(1000, 'f') + " -->\n";
    {
        std::ofstream out(dir / "hundred.xml", std::ios::binary);
        for (int i = 0; i < 100'000; ++i) {
            out << filler;
        }
        out << unmatchedKey << std::string(16 << 20, 'l') << "\n"
            << entry("0a0b0c", "d0d1", "base.fwb");
    }
    write_file(dir / "at-cap.xml", unmatchedKey + std::string(kLineCap - unmatchedKey.size(), 'l') +
                                       "\n" + entry("0a0b0c", "d0d1", "base.fwb"));
    const std::string provisioned = progress("base.fwb", 3, 2) + "Custom fwb generated  out.fwb\n";
    // A key line and its lowercase copy, or the cap's worth of a line that never
    // ends, and some slack: far below the file's size or twice the cap.
    constexpr long kSlackKiB = 16 * 1024;
    std::vector<MemoryCase> cases = {
        {"100 MB, a 16 MiB line, the entry last", "hundred.xml", provisioned,
         2 * 16 * 1024 + kSlackKiB},
        {"a line of exactly the cap", "at-cap.xml", provisioned, 2 * 64 * 1024 + kSlackKiB},
    };
    if (!kOnWindows) {
        cases.push_back({"no line feed ever", "/dev/zero",
                         "Update data line too long /dev/zero\n" + kNotFound69,
                         64 * 1024 + kSlackKiB});
    }
    for (const MemoryCase& c : cases) {
        std::vector<std::string> args = kDevice;
        args.insert(args.end(), {c.updateData, "out.fwb"});
        const RunResult r = run(args);
        EXPECT_EQ(r.out, c.out) << c.name;
        EXPECT_EQ(r.status, c.out == provisioned ? 0 : 69) << c.name;
        if (r.status == 0) {
            SCOPED_TRACE(c.name);
            expect_provisioned(base, read_file(dir / "out.fwb"), "\xd0\xd1", "\x0a\x0b\x0c", true);
        }
#ifndef FWBFORGE2_SANITIZED
        EXPECT_LT(r.maxRssKiB, c.maxRssKiB) << c.name;
#endif
        fs::remove(dir / "out.fwb");
    }
}

} // namespace
