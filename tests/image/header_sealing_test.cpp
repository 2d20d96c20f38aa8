#include "image/header_sealing.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

BoardData board_data(std::string_view phy, std::string_view mac, std::uint32_t exprom) {
    BoardData board;
    board.exprom = exprom;
    std::copy(phy.begin(), phy.end(), board.phyBdp.begin());
    std::copy(mac.begin(), mac.end(), board.macBdp.begin());
    board.phyBdpLen = static_cast<std::uint32_t>(phy.size());
    board.macBdpLen = static_cast<std::uint32_t>(mac.size());
    return board;
}

struct Sealed {
    std::string before;
    std::string header;
    std::string region;
};

Sealed seal(std::string_view phy, std::string_view mac, std::uint32_t exprom) {
    const std::string before = make_image({6144, 8192, 4096, 3});
    ImageHeader header;
    std::copy(before.begin(), before.end(), header.begin());
    BdpRegion region;
    seal_header(board_data(phy, mac, exprom), header, region);
    return {before, std::string(header.begin(), header.end()),
            std::string(region.table.begin(), region.table.end()) +
                std::string(region.data.begin(), region.data.end())};
}

} // namespace

TEST(SealHeader, PadsBlobsToFourBytesAndDigestsThePaddedBytes) {
    const Sealed sealed = seal("PPPPP", "MMMMMM", 1);
    EXPECT_EQ(sealed.region.substr(0, 4), std::string("\x01\x05\x00\x00", 4));
    EXPECT_EQ(sealed.region.substr(4, 32), sha256(std::string("PPPPP\0\0\0", 8)));
    EXPECT_EQ(sealed.region.substr(36, 4), std::string("\x02\x06\x00\x00", 4));
    EXPECT_EQ(sealed.region.substr(40, 32), sha256(std::string("MMMMMM\0\0", 8)));
    EXPECT_EQ(sealed.region.substr(72, 216), std::string(216, '\0')) << "entries 2 to 7";
    EXPECT_EQ(sealed.region.substr(288, 16), std::string("PPPPP\0\0\0MMMMMM\0\0", 16));
    EXPECT_EQ(sealed.region.substr(304), std::string(2048 - 16, '\0'));
    EXPECT_EQ(sealed.region, expected_region("PPPPP", "MMMMMM", 288 + 2048));
}

TEST(SealHeader, EmptyBlobsGetEntriesWithTheEmptyMessageDigest) {
    const Sealed sealed = seal("", "", 1);
    EXPECT_EQ(sealed.region.substr(0, 36), std::string("\x01\0\0\0", 4) + sha256(""));
    EXPECT_EQ(sealed.region.substr(36, 36), std::string("\x02\0\0\0", 4) + sha256(""));
}

TEST(SealHeader, FullBlobsFillTheDataArea) {
    const Sealed sealed = seal(std::string(1024, 'p'), std::string(1024, 'm'), 1);
    EXPECT_EQ(sealed.region.substr(288), std::string(1024, 'p') + std::string(1024, 'm'));
}

TEST(SealHeader, ChangesOnlyTheDigestsAndTheDescriptorWhenExpromIsOff) {
    for (const std::uint32_t exprom : {0u, 1u}) {
        const Sealed sealed = seal("P", "M", exprom);
        std::string expected = sealed.before;
        if (exprom == 0) {
            expected.replace(4112, 8, 8, '\0');
        }
        expected.replace(4140, 32, sha256(sealed.region.substr(0, 288)));
        expected.replace(224, 32, sha256(expected.substr(4096, 2048)));
        expected.replace(0, 32, sha256(expected.substr(32, 2272)));
        EXPECT_EQ(sealed.header, expected) << "exprom " << exprom;
    }
}
