// End to end, what an input file that is not what it claims, a path that names
// another file of the run, or a record left torn does to a run: it is refused
// or mended, before anything is written, and never hangs.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kDevice = {"fb2f", "0a01", "fb2f", "0001"};
const std::string kKey = R"(<pciid vid="fb2f" did="0a01" sdid="0001" svid="fb2f" />)";

std::string update_data(std::string_view image) {
    return kKey + "\n<mac>0a0b0c</mac>\n<phy>d0d1</phy>\n<exprom>False</exprom>\n<image>" +
           std::string(image) + "</image>\n";
}

std::string progress(std::string_view image) {
    return "exprom        :0\nImage Name    :" + std::string(image) +
           "\nmacBdpLen     :3\nphyBdpLen     :2\n";
}

std::string diagnostic(std::string_view program, std::string_view text) {
    return std::string(program) + ": " + std::string(text) + "\n";
}

class HostileInputs : public testing::Test {
  protected:
    void SetUp() override {
        base = make_image({64 * 1024, 0x2000, 0x400, 3});
        write_file(dir / "base.fwb", base);
        write_file(dir / "update.xml", update_data("base.fwb"));
    }

    RunResult forge(std::vector<std::string> options, std::string_view updateData,
                    std::string_view output) const {
        options.insert(options.end(), kDevice.begin(), kDevice.end());
        options.emplace_back(updateData);
        options.emplace_back(output);
        return run_program(dir.path(), FWBFORGE2_PATH, options);
    }

    RunResult inspect(const std::vector<std::string>& args) const {
        return run_program(dir.path(), FWBINSPECT_PATH, args);
    }

    TempDir dir;
    std::string base;
};

struct InputCase {
    std::string name;
    std::string program;
    std::vector<std::string> args;
    std::string out;
    std::string err;
};

} // namespace

// A FIFO opens at once when nobody writes to it: the run refuses it instead of
// waiting forever, whoever named it (the update data's <image>, the command line).
TEST_F(HostileInputs, AFifoGivenAsAnImageIsRefusedWithoutWaiting) {
    if (kOnWindows) {
        GTEST_SKIP() << "FIFOs are POSIX's";
    }
    ASSERT_EQ(run_program(dir.path(), "/usr/bin/mkfifo", {"fifo"}).status, 0);
    write_file(dir / "fifo-base.xml", update_data("fifo"));
    const std::string notAnImage = "cannot read fifo: not a regular file";
    const std::vector<InputCase> cases = {
        {"a base image",
         FWBFORGE2_PATH,
         {"fb2f", "0a01", "fb2f", "0001", "fifo-base.xml", "out.fwb"},
         progress("fifo") + "Input fwb not present fifo\nfwbforge2: provisionFile() returns 67\n",
         diagnostic("fwbforge2", "cannot read fifo: a FIFO or socket is read only once, and is "
                                 "no image")},
        {"an image to inspect",
         FWBINSPECT_PATH,
         {"fifo"},
         "Unable to read fwb fifo\n",
         diagnostic("fwbinspect", notAnImage)},
        {"an image of --diff",
         FWBINSPECT_PATH,
         {"--diff", "base.fwb", "fifo"},
         "Unable to read fwb fifo\n",
         diagnostic("fwbinspect", notAnImage)},
        {"the base of --expect",
         FWBINSPECT_PATH,
         {"base.fwb", "--expect", "fb2f", "0a01", "fb2f", "0001", "update.xml", "--base", "fifo"},
         "Unable to read fwb fifo\n",
         diagnostic("fwbinspect", notAnImage)},
    };
    for (const InputCase& c : cases) {
        const RunResult r = run_program(dir.path(), c.program, c.args);
        EXPECT_EQ(r.out, c.out) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
        EXPECT_EQ(r.status, 67) << c.name;
        EXPECT_FALSE(fs::exists(dir / "out.fwb")) << c.name;
    }
}

struct ReuseCase {
    std::string name;
    std::vector<std::string> options;
    std::string output;
    std::string out;
    std::string err;
};

// No path of a run may name another of its files under any spelling: the
// output neither the update data nor the record, the record no input. Each is
// refused with 67 before the image is written, and every file stays as it was.
TEST_F(HostileInputs, AnOutputOrRecordThatNamesAnotherFileOfTheRunIsRefused) {
    fs::create_hard_link(dir / "update.xml", dir / "hard.xml");
    const std::string returns67 = "fwbforge2: provisionFile() returns 67\n";
    std::vector<ReuseCase> cases = {
        {"output is the update data",
         {},
         "update.xml",
         progress("base.fwb") + returns67,
         diagnostic("fwbforge2", "cannot write to update.xml: it is the update data")},
        {"output is a hard link to the update data",
         {},
         "hard.xml",
         progress("base.fwb") + returns67,
         diagnostic("fwbforge2", "cannot write to hard.xml: it is the update data")},
        {"record is the update data",
         {"--record", "update.xml"},
         "out.fwb",
         "Unable to write record update.xml\n",
         diagnostic("fwbforge2", "the record update.xml is the update data")},
        {"record is the base image",
         {"--record", "./base.fwb"},
         "out.fwb",
         "Unable to write record ./base.fwb\n",
         diagnostic("fwbforge2", "the record ./base.fwb is the base image base.fwb")},
        {"record is an existing output",
         {"--record", "old.fwb"},
         "old.fwb",
         "Unable to write record old.fwb\n",
         diagnostic("fwbforge2", "the record old.fwb is the output")},
    };
    if (!kOnWindows) {
        // Standard output is a pipe here; its own writes would land over the record's lines.
        cases.push_back({"record is standard output's file",
                         {"--record", "/dev/stdout"},
                         "out.fwb",
                         "Unable to write record /dev/stdout\n",
                         diagnostic("fwbforge2", "the record /dev/stdout is standard output")});
        fs::create_symlink("update.xml", dir / "soft.xml");
        cases.push_back(
            {"output is a link to the update data",
             {},
             "soft.xml",
             progress("base.fwb") + returns67,
             diagnostic("fwbforge2", "cannot write to soft.xml: it is the update data")});
    }
    for (const ReuseCase& c : cases) {
        write_file(dir / "old.fwb", "an old image");
        const std::string updateData = read_file(dir / "update.xml");
        const RunResult r = forge(c.options, "update.xml", c.output);
        EXPECT_EQ(r.out, c.out) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
        EXPECT_EQ(r.status, 67) << c.name;
        EXPECT_EQ(read_file(dir / "update.xml"), updateData) << c.name;
        EXPECT_EQ(read_file(dir / "base.fwb"), base) << c.name;
        EXPECT_EQ(read_file(dir / "old.fwb"), "an old image") << c.name;
        EXPECT_FALSE(fs::exists(dir / "out.fwb")) << c.name;
    }
}

// A run killed while it appended left part of a line: the next run cuts it back
// under the lock, so that every line of the record is JSON again.
TEST_F(HostileInputs, ATornLastLineOfTheRecordIsCutBackBeforeTheNextLine) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a torn line after whole ones", "{\"a\":1}\n{\"b\":2}\n{\"vers"},
        {"nothing but a torn line", "{\"version\":\"0.3"},
        {"a torn line longer than a block", "{\"a\":1}\n{" + std::string(200000, 'x')},
        {"whole lines only", "{\"a\":1}\n"},
        {"an empty record", ""},
    };
    for (const auto& [name, before] : cases) {
        write_file(dir / "runs.jsonl", before);
        const RunResult r = forge({"--record", "runs.jsonl"}, "update.xml", "out.fwb");
        ASSERT_EQ(r.status, 0) << name << r.err;
        const std::string after = read_file(dir / "runs.jsonl");
        const std::size_t kept =
            before.rfind('\n') == std::string::npos ? 0 : before.rfind('\n') + 1;
        EXPECT_EQ(after.substr(0, kept), before.substr(0, kept)) << name;
        const std::string added = after.substr(kept);
        ASSERT_FALSE(added.empty()) << name;
        EXPECT_EQ(added.find('\n'), added.size() - 1) << name << ": one whole line added";
        EXPECT_EQ(nlohmann::json::parse(added)["status"], 0) << name;
    }
}

// A record named by mistake (another file, an image) is not cut or appended to:
// only a file of JSON lines is a record.
TEST_F(HostileInputs, AFileThatHoldsNoJsonLinesIsNoRecord) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a base image", base},
        {"text after whole lines", "{\"a\":1}\nsomething else"},
    };
    for (const auto& [name, bytes] : cases) {
        write_file(dir / "runs.jsonl", bytes);
        const RunResult r = forge({"--record", "runs.jsonl"}, "update.xml", "out.fwb");
        EXPECT_EQ(r.status, 67) << name;
        EXPECT_TRUE(r.out.ends_with("Unable to write record runs.jsonl\n")) << name;
        EXPECT_EQ(r.err, diagnostic("fwbforge2", "cannot append to the record runs.jsonl: it holds "
                                                 "something other than JSON lines"))
            << name;
        EXPECT_TRUE(read_file(dir / "runs.jsonl") == bytes) << name;
    }
}

// A crafted table whose eight entries each claim 2 MiB in a sparse file: the
// blobs are hashed and printed a block at a time, whatever length they claim.
TEST_F(HostileInputs, BlobsOfAnyClaimedLengthAreReadABlockAtATime) {
    constexpr std::uint32_t kClaimed = (2u << 20) - 1;
    constexpr std::uint64_t kSize = 20u << 20;
    std::string header = make_image({8192 + 288, 8192, 288, 5, false});
    put_le32(header, 0x1024, static_cast<std::uint32_t>(kSize - 8192));
    for (std::size_t i = 0; i < 8; ++i) {
        put_le32(header, 8192 + i * 36, 2 | kClaimed << 8);
    }
    write_file(dir / "crafted.fwb", header);
    fs::resize_file(dir / "crafted.fwb", kSize);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"crafted.fwb", "--blobs", "--json"},
          std::vector<std::string>{"crafted.fwb", "--blobs"}}) {
        const RunResult r = inspect(args);
        EXPECT_EQ(r.status, 69) << args.back();
        EXPECT_GT(r.out.size(), 8u * 2 * kClaimed) << args.back();
        EXPECT_NE(r.out.find(std::string(2 * kClaimed, '0')), std::string::npos) << args.back();
#ifndef FWBFORGE2_SANITIZED
        // The sanitizers' own memory would be measured too.
        if (r.maxRssKiB > 0) {
            EXPECT_LT(r.maxRssKiB, 16 * 1024) << args.back() << ": KiB at peak";
        }
#endif
    }
}

// A dry run checks the path the real run would write, through its links: where
// the real run fails, so does the dry run, with the same lines.
TEST_F(HostileInputs, ADryRunThroughALinkFailsAsTheRealRunWould) {
    if (kOnWindows) {
        GTEST_SKIP() << "symbolic links need a privilege on Windows";
    }
    fs::create_symlink("missing/dir/out.fwb", dir / "link.fwb");
    const RunResult real = forge({}, "update.xml", "link.fwb");
    const RunResult dry = forge({"--dry-run"}, "update.xml", "link.fwb");
    EXPECT_EQ(real.status, 67);
    EXPECT_EQ(dry.status, real.status);
    EXPECT_EQ(dry.out, real.out);
    EXPECT_EQ(dry.err, real.err);
    fs::create_directories(dir / "missing/dir");
    const RunResult possible = forge({"--dry-run"}, "update.xml", "link.fwb");
    EXPECT_EQ(possible.status, 0) << possible.err;
    EXPECT_FALSE(fs::exists(dir / "missing/dir/out.fwb"));
}
