#include "image/provision_file.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

struct CopyCase {
    std::size_t inputSize;
    std::uint64_t from;
    std::uint64_t count;
    bool inPlace;
    int result;
    bool inputEnded;
};

// The output starts with a marker that a copy at offset 3 or in order after it must keep.
std::pair<int, CopyFailure> copy_through(const std::string& input, const CopyCase& c,
                                         const std::string& outputPath, std::string& output) {
    TempDir dir;
    write_file(dir / "in", input);
    platform::File in;
    platform::File out;
    EXPECT_FALSE(platform::open_for_reading(utf8_of(dir / "in"), in).failed());
    const std::string target = outputPath.empty() ? utf8_of(dir / "out") : outputPath;
    if (outputPath.empty()) {
        write_file(target, "abc");
    }
    EXPECT_FALSE(platform::open_existing_for_writing(target, out).failed());
    if (outputPath.empty()) {
        EXPECT_FALSE(platform::seek_to(out, 3).failed());
    }
    CopyFailure failure;
    const std::optional<std::uint64_t> at =
        c.inPlace ? std::optional<std::uint64_t>(3) : std::nullopt;
    const int result = copy(in, c.from, out, at, c.count, failure);
    output = outputPath.empty() ? read_file(target) : "";
    return {result, failure};
}

} // namespace

TEST(Copy, MovesExactlyTheCountFromTheOffsetAndFailsWhenTheInputEndsEarly) {
    const std::vector<CopyCase> cases = {
        {1003, 3, 1000, true, 0, false},
        {1003, 3, 1000, false, 0, false},
        {1003, 3, 1001, true, -1, true},
        {1003, 3, 1001, false, -1, true},
        {3, 3, 0, true, 0, false},
        {3, 3, 1, false, -1, true},
        {(1 << 20) + 516, 3, (1 << 20) + 513, true, 0, false},
        {300003, 100, 200000, false, 0, false},
    };
    for (const CopyCase& c : cases) {
        const std::string input = make_image({c.inputSize, 0, 0, 9});
        std::string output;
        const auto [result, failure] = copy_through(input, c, "", output);
        SCOPED_TRACE(std::to_string(c.inputSize) + " " + std::to_string(c.count) +
                     (c.inPlace ? " in place" : " in order"));
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(failure.inInput, c.inputEnded);
        EXPECT_FALSE(failure.error.failed());
        if (result == 0) {
            EXPECT_EQ(output, "abc" + input.substr(c.from, c.count));
        }
    }
}

TEST(Copy, FallsBackToBlocksWhereTheKernelCopyIsRefusedAndReportsAFailedWrite) {
    const std::string input = make_image({200000, 0, 0, 9});
    std::string ignored;
    EXPECT_EQ(copy_through(input, {200000, 0, 200000, false, 0, false},
                           std::string(platform::kNullDevice), ignored)
                  .first,
              0);
    if (kOnWindows) {
        GTEST_SKIP() << "no full device on Windows";
    }
    const auto [result, failure] =
        copy_through(input, {200000, 0, 200000, false, 0, false}, "/dev/full", ignored);
    EXPECT_EQ(result, -1);
    EXPECT_FALSE(failure.inInput);
    EXPECT_TRUE(failure.error.failed());
}
