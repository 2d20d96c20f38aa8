// The writer's outcomes: what it returns for each way a device's image cannot be
// written, before anything is written; and a batch's, once its images are put in place.
#include "image/image_batch.h"
#include "image/provision_file.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

const ImageShape kBase = {16 * 1024, 0x2000, 0x400, 3};

struct OutcomeCase {
    std::string name;
    ImageShape base;
    std::string output; // under the test's directory, unless it starts with '/'
    bool dryRun;
    Status status;
    Check check;
    std::string path; // the failure's path, under the test's directory
};

} // namespace

TEST(ProvisionFile, ReturnsWhatFailedWithItsStatusAndFileBeforeWritingAnything) {
    TempDir dir;
    fs::create_directory(dir / "folder");
    write_file(dir / "other", "another file of the run");
    std::vector<OutcomeCase> cases = {
        {"written", kBase, "out.fwb", false, PROVKIT_OK, Check::none, ""},
        {"a dry run", kBase, "out.fwb", true, PROVKIT_OK, Check::none, ""},
        {"a region too small",
         {16 * 1024, 0x2000, 288 + 4, 3},
         "out.fwb",
         false,
         PROVKIT_ERR_DATA,
         Check::region_too_small,
         "base.fwb"},
        {"a region inside the header",
         {16 * 1024, 0x1000, 0x400, 3},
         "out.fwb",
         false,
         PROVKIT_ERR_DATA,
         Check::region_outside,
         "base.fwb"},
        {"the output is the base", kBase, "base.fwb", false, PROVKIT_ERR_FILE,
         Check::output_is_base, "base.fwb"},
        {"the output is another file of the run", kBase, "other", false, PROVKIT_ERR_FILE,
         Check::output_is_other_file, "other"},
        {"the same in a dry run", kBase, "other", true, PROVKIT_ERR_FILE,
         Check::output_is_other_file, "other"},
        {"a missing directory", kBase, "no/out.fwb", false, PROVKIT_ERR_FILE,
         Check::temporary_uncreated, "no"},
        {"a directory as output", kBase, "folder", false, PROVKIT_ERR_FILE, Check::output_refused,
         "folder"},
    };
    if (!kOnWindows) {
        cases.push_back({"a full device", kBase, "/dev/full", false, PROVKIT_ERR_FILE,
                         Check::output_unwritten, "/dev/full"});
    }
    const std::vector<RunFile> others = {
        {*platform::identity_of(utf8_of(dir / "other")), "the update data"}};
    for (const OutcomeCase& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(dir / "base.fwb", make_image(c.base));
        fs::remove(dir / "out.fwb");
        const std::string output = c.output.starts_with('/') ? c.output : utf8_of(dir / c.output);
        BaseImages bases;
        ProvisionOptions options;
        options.dryRun = c.dryRun;
        options.digests = true;
        options.otherFiles = others;
        const ProvisionOutcome outcome =
            provisionFile(small_board_data(), utf8_of(dir / "base.fwb"), output, bases, options);
        EXPECT_EQ(outcome.failure.status, c.status);
        EXPECT_EQ(outcome.failure.check, c.check);
        const std::string path = c.path.starts_with('/') ? c.path : utf8_of(dir / c.path);
        EXPECT_EQ(outcome.failure.path, c.path.empty() ? "" : path);
        EXPECT_EQ(fs::exists(dir / "out.fwb"),
                  c.output == "out.fwb" && c.status == PROVKIT_OK && !c.dryRun);
        EXPECT_EQ(read_file(dir / "other"), "another file of the run");
        if (c.status == PROVKIT_OK) {
            ASSERT_TRUE(outcome.outputDigest.has_value());
            EXPECT_EQ(outcome.outputLength, c.base.size);
            const std::string expected =
                c.dryRun ? "" : read_file(dir / "out.fwb"); // a dry run's digest is checked below
            if (!c.dryRun) {
                EXPECT_EQ(std::string(outcome.outputDigest->begin(), outcome.outputDigest->end()),
                          sha256(expected));
            }
        }
    }
}

// A batch's images wait until commit(), which says for each what failed, in order.
TEST(ImageBatch, PutsItsImagesInPlaceAndSaysWhichFailed) {
    TempDir dir;
    write_file(dir / "base.fwb", make_image(kBase));
    fs::create_directory(dir / "out");
    fs::create_directory(dir / "out" / "taken.fwb");
    write_file(dir / "out" / "taken.fwb" / "inside", "a directory that is not empty");
    platform::Directory out;
    ASSERT_FALSE(out.open(utf8_of(dir / "out")).failed());
    ImageBatch batch(&out);
    BaseImages bases;
    for (const std::string name : {"first.fwb", "taken.fwb", "last.fwb"}) {
        const ProvisionOutcome outcome = batch.add(small_board_data(), utf8_of(dir / "base.fwb"),
                                                   name, utf8_of(dir / "out" / name), bases, {});
        EXPECT_FALSE(outcome.failure.failed()) << name;
        EXPECT_FALSE(fs::is_regular_file(dir / "out" / name)) << name << " waits";
    }
    const std::vector<Failure> placed = batch.commit();
    ASSERT_EQ(placed.size(), 3u);
    EXPECT_FALSE(placed[0].failed());
    EXPECT_EQ(placed[1].check, Check::output_unrenamed);
    EXPECT_EQ(placed[1].status, PROVKIT_ERR_FILE);
    EXPECT_FALSE(placed[2].failed());
    EXPECT_TRUE(fs::is_regular_file(dir / "out" / "first.fwb"));
    EXPECT_TRUE(fs::is_regular_file(dir / "out" / "last.fwb"));
    EXPECT_EQ(read_file(dir / "out" / "taken.fwb" / "inside"), "a directory that is not empty");
}
