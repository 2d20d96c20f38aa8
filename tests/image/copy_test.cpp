#include "image/copy.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

struct CopyCase {
    std::size_t inputSize;
    std::uint64_t from;
    std::uint64_t count;
    bool inPlace;
    Check failed; // none when the copy succeeds
};

// The output starts with a marker that a copy at offset 3 or in order after it must keep.
Result<> copy_through(const std::string& input, const CopyCase& c, const std::string& outputPath,
                      std::string& output) {
    TempDir dir;
    write_file(dir / "in", input);
    platform::File in;
    platform::File out;
    EXPECT_FALSE(platform::open_for_reading(utf8_of(dir / "in"), in).failed());
    const std::string target = outputPath.empty() ? utf8_of(dir / "out") : outputPath;
    if (outputPath.empty()) {
        write_file(target, "");
    }
    EXPECT_FALSE(platform::open_existing_for_writing(target, out).failed());
    if (outputPath.empty()) {
        const std::string marker = "abc";
        EXPECT_FALSE(
            platform::write_all(
                out, std::span(reinterpret_cast<const std::uint8_t*>(marker.data()), marker.size()))
                .failed());
    }
    const std::optional<std::uint64_t> at =
        c.inPlace ? std::optional<std::uint64_t>(3) : std::nullopt;
    Result<> result = copy(in, c.from, out, at, c.count);
    output = outputPath.empty() ? read_file(target) : "";
    return result;
}

} // namespace

TEST(Copy, MovesExactlyTheCountFromTheOffsetAndFailsWhenTheInputEndsEarly) {
    const std::vector<CopyCase> cases = {
        {1003, 3, 1000, true, Check::none},
        {1003, 3, 1000, false, Check::none},
        {1003, 3, 1001, true, Check::base_unread},
        {1003, 3, 1001, false, Check::base_unread},
        {3, 3, 0, true, Check::none},
        {3, 3, 1, false, Check::base_unread},
        {(1 << 20) + 516, 3, (1 << 20) + 513, true, Check::none},
        {300003, 100, 200000, false, Check::none},
    };
    for (const CopyCase& c : cases) {
        const std::string input = make_image({c.inputSize, 0, 0, 9});
        std::string output;
        const Result<> result = copy_through(input, c, "", output);
        SCOPED_TRACE(std::to_string(c.inputSize) + " " + std::to_string(c.count) +
                     (c.inPlace ? " in place" : " in order"));
        EXPECT_EQ(result ? Check::none : result.error().check, c.failed);
        if (result) {
            EXPECT_EQ(output, "abc" + input.substr(c.from, c.count));
        } else {
            EXPECT_EQ(result.error().status, PROVKIT_ERR_FILE);
            EXPECT_FALSE(result.error().reason.failed()) << "the input ended: no system error";
        }
    }
}

TEST(Copy, FallsBackToBlocksWhereTheKernelCopyIsRefusedAndReportsAFailedWrite) {
    const std::string input = make_image({200000, 0, 0, 9});
    std::string ignored;
    EXPECT_TRUE(copy_through(input, {200000, 0, 200000, false, Check::none},
                             std::string(platform::kNullDevice), ignored));
    if (kOnWindows) {
        GTEST_SKIP() << "no full device on Windows";
    }
    const Result<> result =
        copy_through(input, {200000, 0, 200000, false, Check::none}, "/dev/full", ignored);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().check, Check::output_unwritten);
    EXPECT_TRUE(result.error().reason.failed());
}
