#include "provisioning_data/line_reader.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

struct Reading {
    std::vector<std::string> lines;
    bool lineTooLong = false;

    bool operator==(const Reading&) const = default;
};

Reading read_lines(std::string_view content, std::size_t maxLength = kMaxLineLength) {
    TempDir dir;
    write_file(dir / "input", content);
    platform::File file;
    EXPECT_FALSE(platform::open_for_reading(utf8_of(dir / "input"), file).failed());
    LineReader reader(file, maxLength);
    Reading reading;
    for (std::string line; reader.next(line);) {
        reading.lines.push_back(line);
    }
    EXPECT_FALSE(reader.next(reading.lines.emplace_back())) << "the reading stays ended";
    reading.lines.pop_back();
    reading.lineTooLong = reader.line_too_long();
    return reading;
}

std::vector<std::string> lines_of(std::string_view content) {
    return read_lines(content).lines;
}

struct LineCase {
    std::string content;
    std::vector<std::string> lines;
};

struct CapCase {
    std::string content;
    std::size_t maxLength;
    Reading reading;
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

TEST(LineReader, EndsAtTheFirstLineLongerThanItsCapWithoutItsLineFeed) {
    const std::string blocks(100'000, 'a');
    const std::vector<CapCase> cases = {
        {"abc\nd", 3, {{"abc\n", "d"}, false}},
        {"abcd\nefg\n", 3, {{}, true}},
        {"ab\nabcd\nef\n", 3, {{"ab\n"}, true}},
        {"abc\r\n", 3, {{"abc\n"}, false}},
        {"abcd\r\n", 3, {{}, true}},
        {"abc", 3, {{"abc"}, false}},
        {"abcd", 3, {{}, true}},
        {"abc\r", 3, {{}, true}},
        {"\n\n", 0, {{"\n", "\n"}, false}},
        {blocks + "\n", blocks.size(), {{blocks + "\n"}, false}},
        {blocks + "\n", blocks.size() - 1, {{}, true}},
        {blocks, blocks.size() - 1, {{}, true}},
    };
    for (const CapCase& c : cases) {
        EXPECT_EQ(read_lines(c.content, c.maxLength), c.reading)
            << c.content.size() << " bytes, cap " << c.maxLength;
    }
}

TEST(LineReader, ReadsAFileFromItsStartWithoutMovingItsWriter) {
    TempDir dir;
    platform::File file;
    ASSERT_FALSE(platform::open_appending(utf8_of(dir / "written"), file).failed());
    const auto write = [&](std::string_view text) {
        return platform::write_all(
            file, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    };
    const std::string acrossBlocks(100'000, 'c');
    ASSERT_FALSE(write("a\r\nb\n" + acrossBlocks + "\n").failed());
    LineReader reader(file, LineReader::FromStart{});
    std::vector<std::string> lines;
    for (std::string line; reader.next(line);) {
        lines.push_back(line);
        ASSERT_FALSE(write(lines.size() == 1 ? "d" : "").failed());
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"a\n", "b\n", acrossBlocks + "\n", "d"}));
    EXPECT_FALSE(reader.failed());
}
