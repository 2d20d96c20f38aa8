#include "common/file.h"
#include "image/provision_file.h"
#include "tests/support/test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct CopyCase {
    std::size_t inputSize;
    std::uint64_t count;
    int result;
    std::size_t copied;
};

// Copies from offset 3 of the input, so the copier must start where the input stands.
std::pair<int, std::string> copy_through(const std::string& input, std::uint64_t count,
                                         const char* outputPath) {
    TempDir dir;
    write_file(dir / "in", input);
    const UniqueFd in = open_for_reading((dir / "in").string());
    const std::string target = outputPath ? outputPath : (dir / "out").string();
    const UniqueFd out{::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)};
    ::lseek(in.get(), 3, SEEK_SET);
    const int result = copy(in.get(), out.get(), count);
    return {result, outputPath ? "" : read_file(dir / "out")};
}

} // namespace

TEST(Copy, MovesExactlyTheCountOrToTheEndAndFailsWhenTheInputEndsEarly) {
    const std::vector<CopyCase> cases = {
        {1003, 1000, 0, 1000},
        {1003, 0, 0, 1000},
        {1003, 1001, -1, 1000},
        {3, 0, 0, 0},
        {3, 1, -1, 0},
        {(1 << 20) + 516, 0, 0, (1 << 20) + 513},
        {300003, 200000, 0, 200000},
    };
    for (const CopyCase& c : cases) {
        const std::string input = make_image({c.inputSize, 0, 0, 9});
        const auto [result, output] = copy_through(input, c.count, nullptr);
        EXPECT_EQ(result, c.result) << c.inputSize << " " << c.count;
        if (result == 0) {
            EXPECT_EQ(output, input.substr(3, c.copied)) << c.inputSize << " " << c.count;
        }
    }
}

TEST(Copy, FallsBackToBlocksWhereTheKernelCopyIsRefusedAndReportsAFailedWrite) {
    const std::string input = make_image({200000, 0, 0, 9});
    EXPECT_EQ(copy_through(input, 0, "/dev/null").first, 0);
    EXPECT_EQ(copy_through(input, 0, "/dev/full").first, -1);
}
