#pragma once

#include "common/board_data.h"
#include "image/layout.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

using ImageHeader = std::array<std::uint8_t, layout::kHeaderSize>;

// The BDP region as built: the table, then the first 2048 bytes of the data area.
struct BdpRegion {
    std::array<std::uint8_t, layout::kBdpTableSize> table{};
    std::array<std::uint8_t, layout::kBdpDataAreaSize> data{};
};

// One entry of the BDP table: the blob's type and unpadded length, and the
// digest of the blob as it lies in the data area, padded to 4 bytes.
struct BdpTableEntry {
    std::uint32_t type = 0;
    std::uint32_t length = 0;
    std::array<std::uint8_t, layout::kDigestSize> digest{};
};

// Reads entry index of a table; an unused entry has type 0 and length 0.
BdpTableEntry load_table_entry(std::span<const std::uint8_t, layout::kBdpTableSize> table,
                               std::size_t index);

// A used entry (not type 0 with length 0) and where its blob lies: each blob at
// the data-area offset where the padded blobs of the used entries before it end.
struct PlacedEntry {
    std::size_t index = 0;
    BdpTableEntry stored;
    std::uint64_t dataOffset = 0;
};

std::vector<PlacedEntry> used_entries(std::span<const std::uint8_t, layout::kBdpTableSize> table);

struct BdpPlacement {
    std::uint32_t bdpOffset = 0;
    std::uint32_t bdpSize = 0;
};

// bdpOffset and bdpSize of a header, or of as much of one as a short file holds
// (a field it does not reach reads 0).
BdpPlacement placement_of(std::span<const std::uint8_t> header);
// Whether as much of a header as a file holds reaches both fields: a table is
// looked for only where they say.
bool holds_placement(std::span<const std::uint8_t> header);

// The bytes past the table that a region of placement's size holds.
std::uint64_t data_area_size(const BdpPlacement& placement);

// The region starts after the header and ends inside an image of that length.
bool region_inside_image(const BdpPlacement& placement, std::uint64_t imageLength);

// Each of these counts the digests the hash library failed to compute: such a
// failure is reported (a line each) and does not stop the sealing.

// Builds the table and the data area for boardData into a zero-filled region.
unsigned build_bdp_region(const BoardData& boardData, BdpRegion& region);

// Recomputes the digest chain in its fixed order, each digest covering the ones
// before it: table digest, then second-area digest, then header digest.
// Run after every change to the table or the header.
unsigned reseal_digest_chain(ImageHeader& header, const BdpRegion& region);

// Header sealing: clears the expansion-ROM descriptor when exprom is 0, builds
// the region and reseals.
unsigned seal_header(const BoardData& boardData, ImageHeader& header, BdpRegion& region);

// What provisioning makes of a base image: everything else is the base's bytes.
struct ProvisionedParts {
    ImageHeader header{}; // sealed
    BdpRegion region;
    BdpPlacement placement;
    unsigned digestFailures = 0; // digests the hash library failed to compute while sealing
};

// One stretch of a provisioned image: the base's own bytes at the same offset,
// bytes of the parts, or zeros.
struct OutputStretch {
    enum class Source { base, parts, zeros };
    Source source = Source::base;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::span<const std::uint8_t> bytes; // the parts' bytes, for Source::parts
};

inline constexpr std::size_t kOutputStretches = 6;

// The one rule for the bytes of a provisioned image, which whoever writes,
// hashes or predicts one follows: in file order, the sealed header, the base
// up to the region, the region's table, its data area as built, zeros up to
// bdpSize, and the base to its end. The parts must fit (provision_parts).
std::array<OutputStretch, kOutputStretches> output_stretches(const ProvisionedParts& parts,
                                                             std::uint64_t baseLength);

enum class RegionFit { fits, too_small, outside_image };

// Seals a copy of the base image's header for boardData and checks that the
// base's region holds the board data (too_small) and lies after the header and
// inside the image (outside_image), in that order.
RegionFit provision_parts(const BoardData& boardData, const ImageHeader& baseHeader,
                          std::uint64_t baseLength, ProvisionedParts& parts);

// The names of the chain's digests ("header digest", "second-area digest",
// "table digest") that differ from those resealing header over table gives.
std::vector<std::string_view>
unsealed_digests(const ImageHeader& header,
                 std::span<const std::uint8_t, layout::kBdpTableSize> table);
