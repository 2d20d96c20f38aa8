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
        EXPECT_EQ(string_to_databuff(c.text, destination), c.status) << c.text;
        const std::string decoded(destination.begin(), destination.begin() + c.bytes.size());
        EXPECT_EQ(decoded, c.bytes) << c.text;
        EXPECT_EQ(destination[c.bytes.size() % 1024], c.bytes.size() == 1024 ? 0xee : 0x55)
            << "wrote past its bytes, or on failure: " << c.text;
    }
}

namespace {

struct StageCase {
    std::string mac;
    std::string phy;
    Status status;
    std::string lastLine;
    std::uint32_t macBdpLen; // already stored when only the PHY blob fails
};

} // namespace

TEST(ReadBdp, ReportsTheEntryThenTheFirstBadBlobWithItsStatus) {
    const std::vector<StageCase> cases = {
        {"0a0b0c", "01", PROVKIT_OK, "", 3},
        {"0a0", "01", PROVKIT_ERR_ODD_HEX, "fwbforge2: Odd mac_string\n", 0},
        {"0a", "010", PROVKIT_ERR_ODD_HEX, "fwbforge2: Odd phy_string\n", 1},
        {"0a 0", "01", PROVKIT_ERR_BAD_HEX, "fwbforge2: Bad mac_string\n", 0},
        {"0a", "zz", PROVKIT_ERR_BAD_HEX, "fwbforge2: Bad phy_string\n", 1},
        {std::string(2050, '0'), "01", PROVKIT_ERR_DATA, "fwbforge2: Long mac_string\n", 0},
        {"0a", std::string(2050, '0'), PROVKIT_ERR_DATA, "fwbforge2: Long phy_string\n", 1},
    };
    for (const StageCase& c : cases) {
        TempDir dir;
        write_file(dir / "u.xml", R"(<pciid vid="fb2f" did="0a01" sdid="0001" svid="fb2f" />)"
                                  "<mac>" +
                                      c.mac + "</mac><phy>" + c.phy +
                                      "</phy><exprom>True</exprom><image>base.fwb</image>\n");
        BoardData board;
        std::string imageName;
        testing::internal::CaptureStdout();
        EXPECT_EQ(
            readBdp(utf8_of(dir / "u.xml"), {0x0a01, 0xfb2f, 0xfb2f, 0x0001}, board, imageName),
            c.status);
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string reported = "exprom        :1\nImage Name    :base.fwb\n";
        EXPECT_EQ(out, c.status == PROVKIT_OK ? reported : reported + c.lastLine);
        EXPECT_EQ(imageName, "base.fwb");
        EXPECT_EQ(board.macBdpLen, c.macBdpLen);
        EXPECT_EQ(board.exprom, c.status == PROVKIT_OK ? 1u : 0u) << "set only on success";
    }
}

TEST(CheckHexText, TakesAsDigitsExactlyTheCharactersHexDigitValueReads) {
    for (int byte = 0; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        const std::string text = {'0', c, c, 'f'};
        EXPECT_EQ(check_hex_text(text, 2) == PROVKIT_OK, hex_digit_value(c).has_value()) << byte;
    }
}
