// A power cut right after a reported success: the real fwbforge2 on a loop-mounted
// filesystem, the filesystem shut down without flushing its log, then mounted again.
#include "tests/support/process.h"
#include "tests/support/test_support.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kRun = {"fb2f", "0a01", "fb2f", "0001", "update.xml", "out.fwb"};
const std::string kUpdateData = R"(<devices>
  <device>
    <pciid vid="fb2f" did="0a01" sdid="0001" svid="fb2f" />
    <mac>0a0b0c</mac>
    <phy>d0d1</phy>
    <exprom>False</exprom>
    <image>base.fwb</image>
  </device>
</devices>
)";
const ImageShape kBase = {(2 << 20) + 5, 0x9000, 0x800, 3};
const ImageShape kOldOutput = {(2 << 20) + 5, 0x9000, 0x800, 9};
const std::string kReported = "Custom fwb generated  out.fwb\n";

struct Filesystem {
    std::string name;
    std::string mkfs;
    std::vector<std::string> mkfsOptions;
    std::uintmax_t size;
};

const Filesystem kExt4 = {"ext4", "mkfs.ext4", {"-q", "-F"}, 32 << 20};
// mkfs.xfs refuses anything under 300 MiB; the file stays sparse.
const Filesystem kXfs = {"xfs", "mkfs.xfs", {"-q", "-f"}, 320 << 20};

struct PowerCutCase {
    Filesystem filesystem;
    bool replacesOutput;
};

void PrintTo(const PowerCutCase& c, std::ostream* os) {
    *os << c.filesystem.name << (c.replacesOutput ? ", replacing an output" : ", new output");
}

// Mount tools live in sbin, which a test's PATH may lack.
std::optional<std::string> find_program(std::string_view name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(std::string(path ? path : "") + ":/usr/sbin:/sbin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const fs::path candidate = fs::path(dir) / name;
        std::error_code ignored;
        if (!dir.empty() && fs::is_regular_file(candidate, ignored)) {
            return candidate.string();
        }
    }
    return std::nullopt;
}

// Mounted while it lives, so that a failing test leaves no mount behind.
class LoopMount {
  public:
    LoopMount(std::string mount, std::string umount, fs::path image, fs::path point)
        : mount_(std::move(mount)), umount_(std::move(umount)), image_(std::move(image)),
          point_(std::move(point)) {}
    ~LoopMount() {
        if (mounted_) {
            unmount();
        }
    }
    LoopMount(const LoopMount&) = delete;
    LoopMount& operator=(const LoopMount&) = delete;

    RunResult mount() {
        RunResult r = run_program(point_.parent_path(), mount_,
                                  {"-o", "loop", image_.string(), point_.string()});
        mounted_ = r.status == 0;
        return r;
    }

    RunResult unmount() {
        RunResult r = run_program(point_.parent_path(), umount_, {point_.string()});
        mounted_ = r.status != 0;
        return r;
    }

  private:
    std::string mount_;
    std::string umount_;
    fs::path image_;
    fs::path point_;
    bool mounted_ = false;
};

// Megabytes of differing bytes help nobody: say which image the file holds.
std::string contents(const fs::path& path, const std::string& newImage,
                     const std::string& oldImage) {
    if (!fs::exists(path)) {
        return "no file";
    }
    const std::string bytes = read_file(path);
    if (bytes == newImage) {
        return "the new image";
    }
    if (bytes == oldImage) {
        return "the old output";
    }
    return std::to_string(bytes.size()) + " bytes of neither image";
}

std::vector<std::string> temporaries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(".fwbforge2-")) {
            names.push_back(name);
        }
    }
    return names;
}

class PowerCut : public testing::TestWithParam<PowerCutCase> {
  protected:
    void SetUp() override {
        if (kOnWindows) {
            GTEST_SKIP() << "loop mounts and the shutdown ioctl are Linux's";
        }
        if (!process::running_as_root()) {
            GTEST_SKIP() << "needs root to loop-mount a filesystem";
        }
        if (!fs::exists("/dev/loop-control")) {
            GTEST_SKIP() << "no loop devices (/dev/loop-control is missing)";
        }
        for (const std::string& name : {std::string("mount"), std::string("umount"),
                                        GetParam().filesystem.mkfs, std::string("xfs_io")}) {
            std::optional<std::string> program = find_program(name);
            if (!program) {
                GTEST_SKIP() << name << " not found"
                             << (name.find("xfs") != std::string::npos ? " (xfsprogs)" : "");
            }
            programs[name] = *program;
        }
    }

    std::string make_filesystem() {
        const Filesystem& filesystem = GetParam().filesystem;
        write_file(dir / "fs.img", "");
        fs::resize_file(dir / "fs.img", filesystem.size);
        std::vector<std::string> args = filesystem.mkfsOptions;
        args.push_back((dir / "fs.img").string());
        const RunResult r = run_program(dir.path(), programs[filesystem.mkfs], args);
        return r.status == 0 ? "" : filesystem.mkfs + " failed: " + r.err;
    }

    // A fresh filesystem of the case's kind, mounted at point; empty, or why it cannot be.
    std::string mount_filesystem() {
        if (std::string failure = make_filesystem(); !failure.empty()) {
            return failure;
        }
        fs::create_directory(point);
        mount = std::make_unique<LoopMount>(programs["mount"], programs["umount"], dir / "fs.img",
                                            point);
        const RunResult r = mount->mount();
        return r.status == 0 ? "" : "mount -o loop failed: " + r.err;
    }

    // Unmounted and mounted again, so that what was written is on disk.
    void remount() {
        ASSERT_EQ(mount->unmount().status, 0);
        ASSERT_EQ(mount->mount().status, 0);
    }

    // Shuts the filesystem down without flushing its log, as a power cut would,
    // and mounts it again; empty, or why it cannot be.
    std::string cut_power() {
        const RunResult cut = run_program(point, programs["xfs_io"], {"-x", "-c", "shutdown", "."});
        if (cut.status != 0 || !cut.err.empty()) {
            return "the shutdown without log flush is refused: " + cut.err;
        }
        remount();
        return "";
    }

    TempDir dir;
    fs::path point = dir / "mnt";
    std::map<std::string, std::string> programs;
    std::unique_ptr<LoopMount> mount;
};

TEST_P(PowerCut, AReportedOutputHoldsTheNewImageAfterThePowerIsCut) {
    const std::string base = make_image(kBase);
    const std::string oldOutput = make_image(kOldOutput);
    write_file(dir / "base.fwb", base);
    write_file(dir / "update.xml", kUpdateData);
    std::vector<std::string> expectedRun = kRun;
    expectedRun.back() = "expected.fwb";
    ASSERT_EQ(run_program(dir.path(), FWBFORGE2_PATH, expectedRun).status, 0);
    const std::string expected = read_file(dir / "expected.fwb");

    if (const std::string failure = mount_filesystem(); !failure.empty()) {
        GTEST_SKIP() << failure;
    }
    write_file(point / "base.fwb", base);
    write_file(point / "update.xml", kUpdateData);
    if (GetParam().replacesOutput) {
        write_file(point / "out.fwb", oldOutput);
    }
    // Mounted afresh, the inputs and the old output are on disk before the run.
    ASSERT_NO_FATAL_FAILURE(remount());

    const RunResult run = run_program(point, FWBFORGE2_PATH, kRun);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    ASSERT_TRUE(run.out.ends_with(kReported)) << run.out;
    if (const std::string failure = cut_power(); !failure.empty()) {
        GTEST_SKIP() << failure;
    }

    EXPECT_EQ(contents(point / "out.fwb", expected, oldOutput), "the new image");
    EXPECT_EQ(temporaries(point), std::vector<std::string>{});
}

// A batch flushes every image itself: each one it reported holds its image after the
// cut, and so does the manifest it reported, replacing an older batch's images or not.
TEST_P(PowerCut, EveryImageABatchReportedHoldsItsImageAfterThePowerIsCut) {
    const std::string base = make_image(kBase);
    std::string updateData;
    std::vector<std::string> names;
    // The old and the new images all fit the 32 MiB ext4 at once.
    for (int i = 0; i < 4; ++i) {
        const std::string did = "0b0" + std::to_string(i);
        updateData += "<pciid vid=\"fb2f\" did=\"" + did + "\" sdid=\"0001\" svid=\"fb2f\" />" +
                      "<mac>0a0b0" + std::to_string(i) + "</mac><image>base.fwb</image>\n";
        names.push_back("fb2f-" + did + "-fb2f-0001.fwb");
    }
    write_file(dir / "base.fwb", base);
    write_file(dir / "update.xml", updateData);
    ASSERT_EQ(run_program(dir.path(), FWBFORGE2_PATH, {"--all", "update.xml", "expected"}).status,
              0);

    if (const std::string failure = mount_filesystem(); !failure.empty()) {
        GTEST_SKIP() << failure;
    }
    write_file(point / "base.fwb", base);
    write_file(point / "update.xml", updateData);
    if (GetParam().replacesOutput) {
        fs::create_directory(point / "out");
        for (const std::string& name : names) {
            write_file(point / "out" / name, make_image(kOldOutput));
        }
    }
    ASSERT_NO_FATAL_FAILURE(remount());

    const RunResult run = run_program(point, FWBFORGE2_PATH, {"--all", "update.xml", "out"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    ASSERT_TRUE(run.out.ends_with("Manifest written  out/manifest.json\n" +
                                  std::to_string(names.size()) + " written, 0 failed\n"))
        << run.out;
    if (const std::string failure = cut_power(); !failure.empty()) {
        GTEST_SKIP() << failure;
    }

    for (const std::string& name : names) {
        EXPECT_EQ(contents(point / "out" / name, read_file(dir / "expected" / name),
                           make_image(kOldOutput)),
                  "the new image")
            << name;
    }
    EXPECT_EQ(read_file(point / "out" / "manifest.json"),
              read_file(dir / "expected" / "manifest.json"));
    EXPECT_EQ(temporaries(point / "out"), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(FilesystemsAndOutputs, PowerCut,
                         testing::Values(PowerCutCase{kExt4, false}, PowerCutCase{kExt4, true},
                                         PowerCutCase{kXfs, false}, PowerCutCase{kXfs, true}),
                         [](const testing::TestParamInfo<PowerCutCase>& info) {
                             return info.param.filesystem.name +
                                    (info.param.replacesOutput ? "_ReplacedOutput" : "_NewOutput");
                         });

} // namespace
