// End to end, --all against what others put in its way: names planted where the
// batch writes, a second batch into the same directory, paths that name the
// run's own files. The images and the manifest go where the tool chose, through
// nothing planted there, and every input stays as it was.
#include "platform/platform.h"
#include "tests/support/process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// What --all puts between its directory and an image's name: the system's own separator.
const std::string kSeparator = kOnWindows ? "\\" : "/";
const std::string kFirst = "fb2f-0a01-fb2f-0001.fwb";
const std::string kSecond = "fb2f-0a02-fb2f-0001.fwb";

std::string entry(std::string_view did, std::string_view image) {
    return "<pciid vid=\"fb2f\" did=\"" + std::string(did) +
           "\" sdid=\"0001\" svid=\"fb2f\" />\n<mac>0a0b0c</mac>\n<phy>d0d1</phy>\n"
           "<exprom>False</exprom>\n<image>" +
           std::string(image) + "</image>\n";
}

class BatchSafety : public testing::Test {
  protected:
    void SetUp() override {
        fs::permissions(dir.path(), fs::perms::all);
        write_file(dir / "base.fwb", make_image({64 * 1024, 0x2000, 0x400, 4}));
        write_file(dir / "update.xml", entry("0a01", "base.fwb") + entry("0a02", "base.fwb"));
        write_file(dir / "precious", "root's own file");
        for (const std::string& name : {kFirst, kSecond}) {
            const RunResult r =
                forge({"fb2f", name.substr(5, 4), "fb2f", "0001", "update.xml", name});
            ASSERT_EQ(r.status, 0) << r.out;
            expected[name] = read_file(dir / name);
            fs::remove(dir / name);
        }
    }

    RunResult forge(const std::vector<std::string>& args, const RunOptions& options = {}) const {
        return run_program(dir.path(), FWBFORGE2_PATH, args, options);
    }

    void expect_batch_wrote(const RunResult& r, const fs::path& out) const {
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        for (const auto& [name, bytes] : expected) {
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out / name))) << name;
            EXPECT_TRUE(read_file(out / name) == bytes) << name;
        }
        const json manifest = json::parse(read_file(out / "manifest.json"));
        EXPECT_EQ(manifest["devices"].size(), 2u);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out / "manifest.json")));
        EXPECT_EQ(read_file(dir / "precious"), "root's own file");
    }

    TempDir dir;
    std::map<std::string, std::string> expected;
};

struct PlantedCase {
    std::string name;
    std::string planted; // the name in out/ where something is put first
    std::string kind;    // "link", "dangling link", "fifo", "file"
};

} // namespace

// Whatever stands at a name the batch chose is replaced as an entry: a link's
// target is never written, a FIFO never opened, a file's owner and mode not kept.
TEST_F(BatchSafety, NamesPlantedWhereTheBatchWritesAreReplacedAsEntries) {
    if (kOnWindows) {
        GTEST_SKIP() << "links and FIFOs are POSIX's here";
    }
    const std::vector<PlantedCase> cases = {
        {"a link to another file at an image's name", kFirst, "link"},
        {"a link to another file at the manifest's name", "manifest.json", "link"},
        {"a dangling link at an image's name", kSecond, "dangling link"},
        {"a FIFO at an image's name", kFirst, "fifo"},
        {"a file anyone may write at an image's name", kSecond, "file"},
    };
    for (const PlantedCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir / "out");
        fs::create_directory(dir / "out");
        const fs::path planted = dir / "out" / c.planted;
        if (c.kind == "link") {
            fs::create_symlink(dir / "precious", planted);
        } else if (c.kind == "dangling link") {
            fs::create_symlink(dir / "nowhere", planted);
        } else if (c.kind == "fifo") {
            ASSERT_EQ(run_program(dir.path(), "/usr/bin/mkfifo", {utf8_of(planted)}).status, 0);
        } else {
            write_file(planted, "an image anyone may change");
            fs::permissions(planted, fs::perms(0666));
        }
        const RunResult r = forge({"--all", "update.xml", "out"}, {.umask = 022});
        expect_batch_wrote(r, dir / "out");
        EXPECT_FALSE(fs::exists(dir / "nowhere"));
        EXPECT_EQ(fs::status(planted).permissions() & fs::perms::mask, fs::perms(0644));
    }
}

// In a shared sticky directory, a file another user made at an image's name
// becomes the running user's image, with the creation mask's mode.
TEST_F(BatchSafety, AnotherUsersFileAtAnImagesNameBecomesTheRunningUsersImage) {
    const std::optional<std::uint32_t> nobody = ordinary_user();
    if (kOnWindows || !nobody) {
        GTEST_SKIP() << "needs root and an ordinary user to plant the file";
    }
    fs::create_directory(dir / "shared");
    fs::permissions(dir / "shared", fs::perms(01777));
    ASSERT_EQ(
        run_program(dir.path(), "/usr/bin/touch", {"shared/" + kFirst}, {.user = nobody}).status,
        0);
    fs::permissions(dir / "shared" / kFirst, fs::perms(0666));
    platform::FileInfo before;
    ASSERT_FALSE(platform::info_of_path(utf8_of(dir / "shared" / kFirst), before).failed());
    ASSERT_EQ(before.owner, *nobody);
    const RunResult r = forge({"--all", "update.xml", "shared"}, {.umask = 022});
    expect_batch_wrote(r, dir / "shared");
    platform::FileInfo after;
    ASSERT_FALSE(platform::info_of_path(utf8_of(dir / "shared" / kFirst), after).failed());
    EXPECT_EQ(after.owner, 0u);
    EXPECT_EQ(after.permissions, 0644u);
}

// Two batches into one directory would interleave their images under one
// manifest: the second is refused while the first holds the directory.
TEST_F(BatchSafety, ASecondBatchIntoTheSameDirectoryIsRefusedWhileTheFirstRuns) {
    write_file(dir / "big.fwb", make_image({8 << 20, 0x2000, 0x400, 6}));
    std::string many;
    for (int i = 0; i < 80; ++i) {
        many += entry(std::to_string(1000 + i), "big.fwb");
    }
    write_file(dir / "many.xml", many);
    process::Process first({FWBFORGE2_PATH, {"--all", "many.xml", "out"}, utf8_of(dir.path())});
    // Lines come a group at a time: the first group's mean the second is on its way.
    ASSERT_TRUE(first.read_until("Custom fwb generated"));
    const RunResult second = forge({"--all", "update.xml", "out"});
    const RunResult firstDone = first.wait();
    EXPECT_EQ(second.status, 67);
    EXPECT_EQ(second.out, "Unable to lock output directory out\n");
    EXPECT_EQ(
        second.err,
        "fwbforge2: cannot lock out: another process holds its lock (a batch writing into it)\n");
    EXPECT_EQ(firstDone.status, 0);
    const json manifest = json::parse(read_file(dir / "out" / "manifest.json"));
    ASSERT_EQ(manifest["devices"].size(), 80u);
    for (const json& device : manifest["devices"]) {
        const std::string name = device["file"].get<std::string>();
        EXPECT_EQ(device["length"], fs::file_size(dir / "out" / name)) << name;
    }
    // The lock goes with the process.
    EXPECT_EQ(forge({"--all", "update.xml", "out"}).status, 0);
}

struct BatchReuseCase {
    std::string name;
    std::vector<std::string> args;
    std::string refusedName; // empty: the whole batch is refused
    std::string err;
    std::string keptFile; // a file that must stay as it was
};

// A batch never writes over one of its own inputs: the device whose name is
// the update data or the record fails, a record that is a base image refuses
// the batch before anything is written.
TEST_F(BatchSafety, ABatchNeverReplacesItsOwnInputsOrRecord) {
    fs::create_directory(dir / "out");
    const std::vector<BatchReuseCase> cases = {
        {"the update data at an image's name",
         {"--all", "out/" + kFirst, "out"},
         kFirst,
         "fwbforge2: cannot write to out" + kSeparator + kFirst + ": it is the update data\n" +
             "fwbforge2: stale image out" + kSeparator + kFirst + ": this batch did not write it\n",
         "out/" + kFirst},
        {"the record at an image's name",
         {"--all", "--record", "out/" + kSecond, "update.xml", "out"},
         kSecond,
         "fwbforge2: cannot write to out" + kSeparator + kSecond + ": it is the record\n" +
             "fwbforge2: stale image out" + kSeparator + kSecond +
             ": this batch did not write it\n",
         ""},
        {"the record is a base image",
         {"--all", "--record", "base.fwb", "update.xml", "out"},
         "",
         "fwbforge2: the record base.fwb is the base image base.fwb\n",
         "base.fwb"},
    };
    for (const BatchReuseCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir / "out");
        fs::create_directory(dir / "out");
        write_file(dir / "out" / kFirst, read_file(dir / "update.xml"));
        fs::remove(dir / "out" / kSecond);
        const std::string kept = c.keptFile.empty() ? "" : read_file(dir / c.keptFile);
        const RunResult r = forge(c.args);
        EXPECT_EQ(r.status, 67);
        EXPECT_EQ(r.err, c.err);
        if (!c.keptFile.empty()) {
            EXPECT_TRUE(read_file(dir / c.keptFile) == kept);
        }
        if (c.refusedName.empty()) {
            EXPECT_EQ(r.out, "Unable to write record base.fwb\n");
            EXPECT_FALSE(fs::exists(dir / "out" / "manifest.json"));
        } else {
            EXPECT_NE(r.out.find("fwbforge2: provisionFile() returns 67\n"), std::string::npos);
            EXPECT_TRUE(fs::exists(dir / "out" / "manifest.json"));
        }
    }
}

struct DryRunCase {
    std::string name;
    std::string outdir;
    std::optional<std::uint32_t> user;
};

// A dry run meets every refusal the batch would meet, with the same lines: a name
// that is an input, another user's file in a sticky directory, a directory that
// cannot be made. Only the closing lines differ, where a device succeeds.
TEST_F(BatchSafety, ADryRunOfABatchFailsWhereTheBatchWould) {
    if (kOnWindows) {
        GTEST_SKIP() << "links, sticky directories and owners are POSIX's";
    }
    std::vector<DryRunCase> cases = {
        {"an image's name is the update data", "linked", std::nullopt},
        {"the directory a dangling link", "dangling", std::nullopt},
    };
    fs::create_directory(dir / "linked");
    fs::create_hard_link(dir / "update.xml", dir / "linked" / kFirst);
    fs::create_symlink("nowhere", dir / "dangling");
    if (const std::optional<std::uint32_t> nobody = ordinary_user()) {
        fs::create_directory(dir / "sticky");
        fs::permissions(dir / "sticky", fs::perms(01777));
        write_file(dir / "sticky" / kSecond, "root's image");
        fs::permissions(dir / "sticky" / kSecond, fs::perms(0666));
        cases.push_back({"another user's file in a sticky directory", "sticky", nobody});
    }
    for (const DryRunCase& c : cases) {
        SCOPED_TRACE(c.name);
        const RunOptions options{.user = c.user};
        const RunResult dry = forge({"--all", "--dry-run", "update.xml", c.outdir}, options);
        const RunResult real = forge({"--all", "update.xml", c.outdir}, options);
        EXPECT_NE(real.status, 0);
        EXPECT_EQ(dry.status, real.status);
        EXPECT_EQ(dry.err, real.err);
        // The lines up to each device's end are the same; only a success closes otherwise.
        const auto failures = [](const std::string& out) {
            std::string kept;
            for (std::size_t at = 0; at < out.size();) {
                const std::size_t end = out.find('\n', at) + 1;
                const std::string line = out.substr(at, end - at);
                if (line.find("returns") != std::string::npos || line.starts_with("Unable to") ||
                    line.starts_with("fwbforge2:")) {
                    kept += line;
                }
                at = end;
            }
            return kept;
        };
        EXPECT_EQ(failures(dry.out), failures(real.out));
    }
    EXPECT_EQ(read_file(dir / "update.xml"), read_file(dir / "linked" / kFirst));
}
