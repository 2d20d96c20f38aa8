#include "image/header_sealing.h"
#include "image/image_inspection.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

constexpr std::size_t kOffset = 8192;
constexpr std::size_t kSize = 1024;

// A 12 KiB image sealed for a 5-byte PHY blob and a 6-byte MAC blob.
std::string sealed_image() {
    std::string image = make_image({12288, kOffset, kSize, 8});
    const BoardData board = small_board_data();
    ImageHeader header;
    std::copy_n(image.begin(), header.size(), header.begin());
    BdpRegion region;
    seal_header(board, header, region);
    image.replace(0, header.size(), std::string(header.begin(), header.end()));
    const std::string bytes = std::string(region.table.begin(), region.table.end()) +
                              std::string(region.data.begin(), region.data.end());
    image.replace(kOffset, kSize, bytes.substr(0, kSize));
    return image;
}

ImageInspection inspect(std::string_view image) {
    return inspect_image(
        std::span(reinterpret_cast<const std::uint8_t*>(image.data()), image.size()));
}

} // namespace

TEST(InspectImage, ASealedImageVerifiesWithItsTwoBlobs) {
    const std::string image = sealed_image();
    const ImageInspection inspection = inspect(image);
    EXPECT_TRUE(inspection.verified());
    EXPECT_TRUE(inspection.expromCleared());
    ASSERT_EQ(inspection.entries.size(), 2u);
    EXPECT_EQ(inspection.entries[0].type, 1u);
    EXPECT_EQ(inspection.entries[0].length, 5u);
    EXPECT_EQ(inspection.entries[1].type, 2u);
    EXPECT_EQ(inspection.entries[1].dataOffset, 8u);
    EXPECT_EQ(image.substr(inspection.entries[1].blobOffset, 6), std::string(6, '\xbb'));
}

TEST(InspectImage, AFlippedByteFailsExactlyTheDigestsThatCoverIt) {
    const std::vector<std::pair<std::size_t, std::string>> cases = {
        {32, "-++++"},
        {2303, "-++++"},
        {224, "--+++"},
        {4096, "+-+++"},
        {6143, "+-+++"},
        {4112, "+-+++"},
        {4140, "+--++"},
        {kOffset + 200, "++-++"},
        {kOffset + 4, "++--+"},
        {kOffset + 288, "+++-+"},
        {kOffset + 295, "+++-+"},
        {kOffset + 296, "++++-"},
        {kOffset + 304, "+++++"},
        {3000, "+++++"},
        {10000, "+++++"},
    };
    for (const auto& [offset, expected] : cases) {
        std::string image = sealed_image();
        image[offset] = static_cast<char>(image[offset] ^ 0x01);
        const ImageInspection inspection = inspect(image);
        EXPECT_EQ(verdicts(inspection), expected) << "byte " << offset;
        EXPECT_EQ(inspection.verified(), expected == "+++++") << "byte " << offset;
    }
}

TEST(InspectImage, TruncatedAndGarbageImagesAreReportedWithoutReadingPastTheEnd) {
    const std::string image = sealed_image();
    for (const std::size_t length : std::initializer_list<std::size_t>{
             0, 1, 31, 2303, 4135, 6143, 6144, kOffset + 100, kOffset + 291, kOffset + kSize - 1}) {
        const std::string truncated = image.substr(0, length);
        EXPECT_FALSE(inspect(truncated).verified()) << length;
        // Without both fields, no table is looked for (at offset 0, say).
        EXPECT_TRUE(length >= 4136 || inspect(truncated).entries.empty()) << length;
    }
    std::string garbage = make_image({7000, 0xFFFFFFF0, 0xFFFFFFF0, 3});
    EXPECT_FALSE(inspect(garbage).regionValid);
    put_le32(garbage, 4128, 6144);
    put_le32(garbage, 4132, 300);
    EXPECT_FALSE(inspect(garbage).verified());
    std::string tooSmallForItsTable = sealed_image();
    put_le32(tooSmallForItsTable, 4132, 287);
    const ImageInspection small = inspect(tooSmallForItsTable);
    ASSERT_EQ(small.entries.size(), 2u);
    EXPECT_FALSE(small.entries[0].inRegion || small.entries[1].inRegion);
    EXPECT_FALSE(small.verified());
}
