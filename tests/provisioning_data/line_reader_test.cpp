#include "provisioning_data/line_reader.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> lines_of(std::string_view content) {
    TempDir dir;
    write_file(dir / "input", content);
    platform::File file;
    EXPECT_FALSE(platform::open_for_reading((dir / "input").string(), file).failed());
    LineReader reader(file);
    std::vector<std::string> lines;
    for (std::string line; reader.next(line);) {
        lines.push_back(line);
    }
    return lines;
}

struct LineCase {
    std::string content;
    std::vector<std::string> lines;
};

} // namespace

TEST(LineReader, SplitsAtLineFeedsKeepingThemAndDroppingTheCarriageReturnBefore) {
    const std::string longLine(200'000, 'a');
    const std::string acrossBlock = std::string(64 * 1024 - 1, 'b') + "\r\n";
    const std::vector<LineCase> cases = {
        {"", {}},
        {"a\nb", {"a\n", "b"}},
        {"a\r\nb\r\n", {"a\n", "b\n"}},
        {"a\rb\n\r", {"a\rb\n", "\r"}},
        {"\n\n", {"\n", "\n"}},
        {std::string("n\0ul\n", 5), {std::string("n\0ul\n", 5)}},
        {longLine + "\nz", {longLine + "\n", "z"}},
        {acrossBlock, {std::string(64 * 1024 - 1, 'b') + "\n"}},
    };
    for (const LineCase& c : cases) {
        EXPECT_EQ(lines_of(c.content), c.lines) << "content of " << c.content.size() << " bytes";
    }
}
