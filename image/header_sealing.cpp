#include "image/header_sealing.h"

#include "image/calc_hash.h"
#include "image/little_endian.h"

#include <algorithm>

using namespace layout;

namespace {

Digest digest_at(std::span<std::uint8_t> bytes, std::size_t offset) {
    return bytes.subspan(offset).first<kDigestSize>();
}

void write_table_entry(BdpRegion& region, std::size_t index, std::uint32_t type,
                       std::uint32_t length, std::size_t dataOffset) {
    const std::span<std::uint8_t> entry =
        std::span(region.table).subspan(index * kBdpTableEntrySize, kBdpTableEntrySize);
    store_le32(entry, kBdpEntryDescriptorOffset, type | length << kBlobLengthShift);
    const std::span<const std::uint8_t> padded_blob =
        std::span(region.data).subspan(dataOffset, align4(length));
    (void)calcHash(digest_at(entry, kBdpEntryDigestOffset), padded_blob);
}

void clear_exprom_descriptor(ImageHeader& header) {
    std::fill_n(header.begin() + kExpromDescriptorOffset, kExpromDescriptorSize, 0);
}

} // namespace

BdpPlacement read_bdp_placement(const ImageHeader& header) {
    return {load_le32(header, kBdpOffsetOffset), load_le32(header, kBdpSizeOffset)};
}

void build_bdp_region(const BoardData& boardData, BdpRegion& region) {
    const std::size_t macOffset = align4(boardData.phyBdpLen);
    std::copy_n(boardData.phyBdp.begin(), boardData.phyBdpLen, region.data.begin());
    std::copy_n(boardData.macBdp.begin(), boardData.macBdpLen, region.data.begin() + macOffset);
    write_table_entry(region, kPhyEntryIndex, kBlobTypePhy, boardData.phyBdpLen, 0);
    write_table_entry(region, kMacEntryIndex, kBlobTypeMac, boardData.macBdpLen, macOffset);
}

void reseal_digest_chain(ImageHeader& header, const BdpRegion& region) {
    const std::span<std::uint8_t> bytes(header);
    (void)calcHash(digest_at(bytes, kTableDigestOffset), region.table);
    (void)calcHash(digest_at(bytes, kSecondAreaDigestOffset),
                   bytes.subspan(kSecondAreaBegin, kSecondAreaEnd - kSecondAreaBegin));
    (void)calcHash(digest_at(bytes, kHeaderDigestOffset),
                   bytes.subspan(kHeaderDigestedBegin, kHeaderDigestedEnd - kHeaderDigestedBegin));
}

void seal_header(const BoardData& boardData, ImageHeader& header, BdpRegion& region) {
    if (boardData.exprom == 0) {
        clear_exprom_descriptor(header);
    }
    build_bdp_region(boardData, region);
    reseal_digest_chain(header, region);
}
