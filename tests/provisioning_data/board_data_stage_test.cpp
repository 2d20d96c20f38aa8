#include "common/hex.h"
#include "provisioning_data/board_data_stage.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

struct DecodeCase {
    std::string text;
    Status status;
    std::string bytes; // decoded, when status is 0
};

} // namespace

TEST(StringToDatabuff, AcceptsOnlyEvenRunsOfHexDigitsThatFit) {
    const std::vector<DecodeCase> cases = {
        {"", PROVKIT_OK, ""},
        {"0aFf7C", PROVKIT_OK, "\x0a\xff\x7c"},
        {"abc", PROVKIT_ERR_ODD_HEX, ""},
        {"0g1", PROVKIT_ERR_ODD_HEX, ""},
        {"0g", PROVKIT_ERR_BAD_HEX, ""},
        {" 1", PROVKIT_ERR_BAD_HEX, ""},
        {"+1", PROVKIT_ERR_BAD_HEX, ""},
        {"-1", PROVKIT_ERR_BAD_HEX, ""},
        {"0x", PROVKIT_ERR_BAD_HEX, ""},
        {"12\n", PROVKIT_ERR_ODD_HEX, ""},
        {"12\n3", PROVKIT_ERR_BAD_HEX, ""},
        {std::string("1\0", 2), PROVKIT_ERR_BAD_HEX, ""},
        {std::string(2048, 'e'), PROVKIT_OK, std::string(1024, '\xee')},
        {std::string(2050, 'e'), PROVKIT_ERR_DATA, ""},
        {std::string(2049, 'e') + "g", PROVKIT_ERR_BAD_HEX, ""},
    };
    for (const DecodeCase& c : cases) {
        std::array<std::uint8_t, 1024> destination{};
        destination.fill(0x55);
        const Result<> result = string_to_databuff(c.text, destination);
        EXPECT_EQ(result ? PROVKIT_OK : result.error().status, c.status) << c.text;
        const std::string decoded(destination.begin(), destination.begin() + c.bytes.size());
        EXPECT_EQ(decoded, c.bytes) << c.text;
        EXPECT_EQ(destination[c.bytes.size() % 1024], c.bytes.size() == 1024 ? 0xee : 0x55)
            << "wrote past its bytes, or on failure: " << c.text;
    }
}

namespace {

struct StageCase {
    std::string name;
    std::string content;
    bool found;      // the lookup found the entry
    Failure failure; // status, check, path ("$" for the file), subject
    std::uint32_t macBdpLen;
};

const std::string kKey = R"(<pciid vid="fb2f" did="0a01" sdid="0001" svid="fb2f" />)";

std::string entry(std::string_view mac, std::string_view phy) {
    return kKey + "<mac>" + std::string(mac) + "</mac><phy>" + std::string(phy) +
           "</phy><exprom>True</exprom><image>base.fwb</image>\n";
}

} // namespace

// What the stage found and, when it failed, which check failed and for what:
// the program's lines are made from exactly this.
TEST(ReadBdp, ReturnsTheEntryAndTheFirstFailureWithItsStatus) {
    const std::string longLine(64 * 1024 * 1024 + 1, 'x');
    const std::vector<StageCase> cases = {
        {"both blobs decode", entry("0a0b0c", "01"), true, {}, 3},
        {"odd MAC",
         entry("0a0", "01"),
         true,
         {PROVKIT_ERR_ODD_HEX, Check::odd_hex, "", {}, "mac_string"},
         0},
        {"odd PHY after a good MAC",
         entry("0a", "010"),
         true,
         {PROVKIT_ERR_ODD_HEX, Check::odd_hex, "", {}, "phy_string"},
         1},
        {"bad MAC",
         entry("0a 0", "01"),
         true,
         {PROVKIT_ERR_BAD_HEX, Check::bad_hex, "", {}, "mac_string"},
         0},
        {"bad PHY",
         entry("0a", "zz"),
         true,
         {PROVKIT_ERR_BAD_HEX, Check::bad_hex, "", {}, "phy_string"},
         1},
        {"long MAC",
         entry(std::string(2050, '0'), "01"),
         true,
         {PROVKIT_ERR_DATA, Check::long_hex, "", {}, "mac_string"},
         0},
        {"long PHY",
         entry("0a", std::string(2050, '0')),
         true,
         {PROVKIT_ERR_DATA, Check::long_hex, "", {}, "phy_string"},
         1},
        {"no entry",
         "<image>x</image>\n",
         false,
         {PROVKIT_ERR_DATA, Check::no_entry, "$", {}, ""},
         0},
        {"a line over the cap before the entry",
         longLine + "\n" + entry("0a", "01"),
         false,
         {PROVKIT_ERR_DATA, Check::line_too_long, "$", {}, ""},
         0},
    };
    TempDir dir;
    const std::string path = utf8_of(dir / "u.xml");
    for (const StageCase& c : cases) {
        write_file(dir / "u.xml", c.content);
        const BoardDataStage stage = readBdp(path, {0x0a01, 0xfb2f, 0xfb2f, 0x0001});
        EXPECT_EQ(stage.entry.has_value(), c.found) << c.name;
        if (stage.entry) {
            EXPECT_EQ(stage.entry->imageName, "base.fwb") << c.name;
        }
        EXPECT_EQ(stage.failure.status, c.failure.status) << c.name;
        EXPECT_EQ(stage.failure.check, c.failure.check) << c.name;
        EXPECT_EQ(stage.failure.path, c.failure.path == "$" ? path : c.failure.path) << c.name;
        EXPECT_EQ(stage.failure.subject, c.failure.subject) << c.name;
        EXPECT_EQ(stage.boardData.macBdpLen, c.failure.failed() ? 0u : c.macBdpLen) << c.name;
        EXPECT_EQ(stage.boardData.exprom, c.failure.failed() ? 0u : 1u) << c.name;
    }
    const BoardDataStage missing = readBdp(utf8_of(dir / "missing.xml"), {});
    EXPECT_EQ(missing.failure.check, Check::update_data_unreadable);
    EXPECT_EQ(missing.failure.status, PROVKIT_ERR_FILE);
    EXPECT_TRUE(missing.failure.reason.missing());
}

TEST(CheckHexText, TakesAsDigitsExactlyTheCharactersHexDigitValueReads) {
    for (int byte = 0; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        const std::string text = {'0', c, c, 'f'};
        EXPECT_EQ(static_cast<bool>(check_hex_text(text, 2)), hex_digit_value(c).has_value())
            << byte;
    }
}
