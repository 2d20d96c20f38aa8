#include "image/header_sealing.h"

#include "image/bytes.h"
#include "image/calc_hash.h"

#include <algorithm>

using namespace layout;

namespace {

Digest digest_at(std::span<std::uint8_t> bytes, std::size_t offset) {
    return bytes.subspan(offset).first<kDigestSize>();
}

void store_table_entry(std::span<std::uint8_t, kBdpTableSize> table, std::size_t index,
                       const BdpTableEntry& entry) {
    const std::span<std::uint8_t> bytes =
        table.subspan(index * kBdpTableEntrySize, kBdpTableEntrySize);
    store_le32(bytes, kBdpEntryDescriptorOffset, entry.type | entry.length << kBlobLengthShift);
    std::copy(entry.digest.begin(), entry.digest.end(), bytes.begin() + kBdpEntryDigestOffset);
}

BdpTableEntry blob_entry(const BdpRegion& region, std::uint32_t type, std::uint32_t length,
                         std::size_t dataOffset, unsigned& failures) {
    BdpTableEntry entry{type, length, {}};
    if (!calcHash(entry.digest, std::span(region.data).subspan(dataOffset, align4(length)))) {
        ++failures;
    }
    return entry;
}

void clear_exprom_descriptor(ImageHeader& header) {
    std::fill_n(header.begin() + kExpromDescriptorOffset, kExpromDescriptorSize, 0);
}

} // namespace

BdpTableEntry load_table_entry(std::span<const std::uint8_t, kBdpTableSize> table,
                               std::size_t index) {
    const std::span<const std::uint8_t> bytes =
        table.subspan(index * kBdpTableEntrySize, kBdpTableEntrySize);
    const std::uint32_t descriptor = load_le32(bytes, kBdpEntryDescriptorOffset);
    BdpTableEntry entry{descriptor & kBlobTypeMask, descriptor >> kBlobLengthShift, {}};
    std::copy_n(bytes.begin() + kBdpEntryDigestOffset, kDigestSize, entry.digest.begin());
    return entry;
}

std::vector<PlacedEntry> used_entries(std::span<const std::uint8_t, kBdpTableSize> table) {
    std::vector<PlacedEntry> entries;
    std::uint64_t dataOffset = 0;
    for (std::size_t index = 0; index < kBdpTableEntryCount; ++index) {
        const BdpTableEntry stored = load_table_entry(table, index);
        if (stored.type == 0 && stored.length == 0) {
            continue;
        }
        entries.push_back({index, stored, dataOffset});
        dataOffset += align4(stored.length);
    }
    return entries;
}

std::uint64_t data_area_size(const BdpPlacement& placement) {
    return placement.bdpSize > kBdpTableSize ? placement.bdpSize - kBdpTableSize : 0;
}

BdpPlacement placement_of(std::span<const std::uint8_t> header) {
    const auto field = [&](std::size_t offset) {
        return header.size() >= offset + kBdpFieldSize ? load_le32(header, offset) : 0;
    };
    return {field(kBdpOffsetOffset), field(kBdpSizeOffset)};
}

bool holds_placement(std::span<const std::uint8_t> header) {
    return header.size() >= kBdpSizeOffset + kBdpFieldSize;
}

bool region_inside_image(const BdpPlacement& placement, std::uint64_t imageLength) {
    const std::uint64_t regionEnd = std::uint64_t{placement.bdpOffset} + placement.bdpSize;
    return placement.bdpOffset >= kHeaderSize && regionEnd <= imageLength;
}

unsigned build_bdp_region(const BoardData& boardData, BdpRegion& region) {
    const std::size_t macOffset = align4(boardData.phyBdpLen);
    std::copy_n(boardData.phyBdp.begin(), boardData.phyBdpLen, region.data.begin());
    std::copy_n(boardData.macBdp.begin(), boardData.macBdpLen, region.data.begin() + macOffset);
    unsigned failures = 0;
    store_table_entry(region.table, kPhyEntryIndex,
                      blob_entry(region, kBlobTypePhy, boardData.phyBdpLen, 0, failures));
    store_table_entry(region.table, kMacEntryIndex,
                      blob_entry(region, kBlobTypeMac, boardData.macBdpLen, macOffset, failures));
    return failures;
}

unsigned reseal_digest_chain(ImageHeader& header, const BdpRegion& region) {
    const std::span<std::uint8_t> bytes(header);
    const bool table =
        static_cast<bool>(calcHash(digest_at(bytes, kTableDigestOffset), region.table));
    const bool secondArea =
        static_cast<bool>(calcHash(digest_at(bytes, kSecondAreaDigestOffset),
                                   bytes.subspan(kSecondArea.offset, kSecondArea.length)));
    const bool whole =
        static_cast<bool>(calcHash(digest_at(bytes, kHeaderDigestOffset),
                                   bytes.subspan(kHeaderDigested.offset, kHeaderDigested.length)));
    return (table ? 0u : 1u) + (secondArea ? 0u : 1u) + (whole ? 0u : 1u);
}

unsigned seal_header(const BoardData& boardData, ImageHeader& header, BdpRegion& region) {
    if (boardData.exprom == 0) {
        clear_exprom_descriptor(header);
    }
    const unsigned failures = build_bdp_region(boardData, region);
    return failures + reseal_digest_chain(header, region);
}

std::array<OutputStretch, kOutputStretches> output_stretches(const ProvisionedParts& parts,
                                                             std::uint64_t baseLength) {
    using Source = OutputStretch::Source;
    const std::uint64_t tableAt = parts.placement.bdpOffset;
    const std::uint64_t dataAt = tableAt + kBdpTableSize;
    const std::uint64_t dataBytes = parts.placement.bdpSize - kBdpTableSize;
    const std::size_t built =
        static_cast<std::size_t>(std::min<std::uint64_t>(dataBytes, parts.region.data.size()));
    const std::uint64_t regionEnd = tableAt + parts.placement.bdpSize;
    return {{
        {Source::parts, 0, kHeaderSize, parts.header},
        {Source::base, kHeaderSize, tableAt - kHeaderSize, {}},
        {Source::parts, tableAt, kBdpTableSize, parts.region.table},
        {Source::parts, dataAt, built, std::span(parts.region.data).first(built)},
        {Source::zeros, dataAt + built, dataBytes - built, {}},
        {Source::base, regionEnd, baseLength - regionEnd, {}},
    }};
}

namespace {

bool blobs_fit_record(const BoardData& boardData) {
    return boardData.phyBdpLen <= kBlobCapacity && boardData.macBdpLen <= kBlobCapacity;
}

bool region_holds_board_data(const BdpPlacement& placement, const BoardData& boardData) {
    return blobs_fit_record(boardData) &&
           placement.bdpSize >= bdp_bytes_needed(boardData.phyBdpLen, boardData.macBdpLen);
}

// Each stored digest against its range as stored: a wrong table digest is one
// difference, not three.
bool digest_holds(const ImageHeader& header, std::size_t digestOffset,
                  std::span<const std::uint8_t> covered) {
    std::array<std::uint8_t, kDigestSize> computed{};
    return calcHash(computed, covered) &&
           std::equal(computed.begin(), computed.end(), header.begin() + digestOffset);
}

} // namespace

RegionFit provision_parts(const BoardData& boardData, const ImageHeader& baseHeader,
                          std::uint64_t baseLength, ProvisionedParts& parts) {
    parts.header = baseHeader;
    parts.placement = placement_of(baseHeader);
    if (!region_holds_board_data(parts.placement, boardData)) {
        return RegionFit::too_small;
    }
    parts.digestFailures = seal_header(boardData, parts.header, parts.region);
    return region_inside_image(parts.placement, baseLength) ? RegionFit::fits
                                                            : RegionFit::outside_image;
}

std::vector<std::string_view> unsealed_digests(const ImageHeader& header,
                                               std::span<const std::uint8_t, kBdpTableSize> table) {
    const std::span<const std::uint8_t> bytes(header);
    std::vector<std::string_view> differing;
    if (!digest_holds(header, kHeaderDigestOffset,
                      bytes.subspan(kHeaderDigested.offset, kHeaderDigested.length))) {
        differing.push_back("header digest");
    }
    if (!digest_holds(header, kSecondAreaDigestOffset,
                      bytes.subspan(kSecondArea.offset, kSecondArea.length))) {
        differing.push_back("second-area digest");
    }
    if (!digest_holds(header, kTableDigestOffset, table)) {
        differing.push_back("table digest");
    }
    return differing;
}
