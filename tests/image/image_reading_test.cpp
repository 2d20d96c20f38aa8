#include "image/bytes.h"
#include "image/header_sealing.h"
#include "image/image_comparison.h"
#include "image/image_inspection.h"
#include "image/image_reading.h"
#include "image/provision_file.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kOffset = 8192;
constexpr std::size_t kSize = 1024;
constexpr std::size_t kLength = 12288;

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// What the inspector makes of the file at path, read through an open handle
// after the file was cut to length behind its back.
ImageInspection inspect_cut_after_opening(const fs::path& path, std::size_t length) {
    OpenedImage image;
    platform::Error error;
    EXPECT_TRUE(open_image(utf8_of(path), ImageKinds::regular_only, image, error));
    fs::resize_file(path, length);
    ImageBytes bytes(image.file, image.length);
    ImageInspection inspection;
    EXPECT_FALSE(inspect_image(bytes, inspection).failed());
    return inspection;
}

} // namespace

TEST(ReadForInspection, AFileThatShrinksAfterOpeningIsReadAsTheShortFileItBecame) {
    TempDir dir;
    const std::string base = make_image({kLength, kOffset, kSize, 8});
    write_file(dir / "base.fwb", base);
    BaseImages bases;
    ASSERT_FALSE(provisionFile(small_board_data(), utf8_of(dir / "base.fwb"),
                               utf8_of(dir / "image.fwb"), bases)
                     .failure.failed());
    const std::string whole = read_file(dir / "image.fwb");
    for (const std::size_t length :
         {kLength, kLength - 1, kOffset + kSize, kOffset + 300, kOffset + 290, kOffset + 10,
          kOffset, std::size_t{6144}, std::size_t{6000}, std::size_t{100}, std::size_t{0}}) {
        write_file(dir / "shrinking.fwb", whole);
        const ImageInspection cut = inspect_cut_after_opening(dir / "shrinking.fwb", length);
        const std::string truncated = whole.substr(0, length);
        const ImageInspection expected = inspect_image(bytes_of(truncated));
        EXPECT_EQ(cut.fileLength, length);
        EXPECT_EQ(verdicts(cut), verdicts(expected)) << length;
        EXPECT_EQ(cut.regionValid, expected.regionValid) << length;
        EXPECT_EQ(cut.verified(), length >= kOffset + kSize) << length;
    }
}

TEST(CompareImages, TheWritersPartsOverTheBaseAreWhatItWritesAndAShrunkImageIsShort) {
    TempDir dir;
    write_file(dir / "base.fwb", make_image({kLength, kOffset, kSize, 8}));
    BaseImages bases;
    ASSERT_FALSE(provisionFile(small_board_data(), utf8_of(dir / "base.fwb"),
                               utf8_of(dir / "image.fwb"), bases)
                     .failure.failed());
    OpenedImage base;
    OpenedImage image;
    platform::Error error;
    ASSERT_TRUE(open_image(utf8_of(dir / "base.fwb"), ImageKinds::regular_only, base, error));
    ASSERT_TRUE(open_image(utf8_of(dir / "image.fwb"), ImageKinds::regular_only, image, error));
    ImageHeader header{};
    const std::string baseBytes = read_file(dir / "base.fwb");
    std::copy_n(baseBytes.begin(), header.size(), header.begin());
    ProvisionedParts parts;
    ASSERT_EQ(provision_parts(small_board_data(), header, base.length, parts), RegionFit::fits);
    const std::vector<ImagePart> layout = image_parts(parts.header, parts.region.table);
    ImageComparison comparison;
    ReadFailure failure;
    ASSERT_TRUE(compare_images({&image.file, image.length, nullptr, std::nullopt},
                               {&base.file, base.length, &parts, std::nullopt}, layout, comparison,
                               failure));
    EXPECT_TRUE(comparison.differences.empty());

    fs::resize_file(dir / "image.fwb", kOffset + 7);
    ASSERT_TRUE(compare_images({&image.file, image.length, nullptr, std::nullopt},
                               {&base.file, base.length, &parts, std::nullopt}, layout, comparison,
                               failure));
    ASSERT_EQ(comparison.differences.size(), 1u);
    EXPECT_EQ(comparison.differences[0].part, "length");
    EXPECT_EQ(comparison.differences[0].offset, kOffset + 7);
    EXPECT_EQ(comparison.lengthA, kOffset + 7);
}

struct PartCase {
    std::uint64_t offset;
    std::string part;
};

TEST(ImageParts, CoverEveryOffsetAndTheHeaderWinsWhereARegionOverlapsIt) {
    // A region inside the header, smaller than the table: its fields are the header's.
    ImageHeader header{};
    store_le32(header, layout::kBdpOffsetOffset, 4096);
    store_le32(header, layout::kBdpSizeOffset, 100);
    std::array<std::uint8_t, layout::kBdpTableSize> table{};
    store_le32(table, 0, 9 | 8u << 8);
    const std::vector<ImagePart> parts = image_parts(header, table);
    ASSERT_FALSE(parts.empty());
    EXPECT_EQ(parts.front().from, 0u);
    EXPECT_EQ(parts.back().to, UINT64_MAX);
    for (std::size_t i = 1; i < parts.size(); ++i) {
        EXPECT_EQ(parts[i].from, parts[i - 1].to);
        EXPECT_NE(parts[i].name, parts[i - 1].name);
    }
    const auto name_at = [&](std::uint64_t offset) {
        for (const ImagePart& part : parts) {
            if (offset >= part.from && offset < part.to) {
                return part.name;
            }
        }
        return std::string("(none)");
    };
    const std::vector<PartCase> cases = {
        {4095, "content before the region"},
        {4096, "table entry 0 type"},
        {4097, "table entry 0 length"},
        {4100, "table entry 0 digest"},
        {4112, "expansion-ROM descriptor"},
        {4120, "table entry 0 digest"},
        {4128, "bdpOffset"},
        {4132, "bdpSize"},
        {4136, "table entry 1 digest"},
        {4140, "table digest"},
        {4172, "table entry 2 digest"},
        {4196, "content after the region"},
        {5000, "content after the region"},
    };
    for (const PartCase& c : cases) {
        EXPECT_EQ(name_at(c.offset), c.part) << c.offset;
    }
}
