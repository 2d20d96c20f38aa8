#pragma once

#include "common/board_data.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

// The fwb image layout: every offset and size the tool reads or writes.
// All multi-byte integers are little-endian.
namespace layout {

inline constexpr std::size_t kDigestSize = 32;

struct ByteRange {
    std::size_t offset;
    std::size_t length;
};

// Header, the first 6144 bytes of the image.
inline constexpr std::size_t kHeaderSize = 0x1800;
inline constexpr std::size_t kHeaderDigestOffset = 0x0000;
inline constexpr ByteRange kHeaderDigested = {0x0020, 0x0900 - 0x0020};
inline constexpr std::size_t kSecondAreaDigestOffset = 0x00E0;
inline constexpr ByteRange kSecondArea = {0x1000, 0x1800 - 0x1000};
inline constexpr std::size_t kExpromDescriptorOffset = 0x1010;
inline constexpr std::size_t kExpromDescriptorSize = 8;
inline constexpr std::size_t kBdpOffsetOffset = 0x1020;
inline constexpr std::size_t kBdpFieldSize = 4; // each of bdpOffset and bdpSize
inline constexpr std::size_t kBdpSizeOffset = 0x1024;
inline constexpr std::size_t kTableDigestOffset = 0x102C;

// BDP region: the table, then the data area.
inline constexpr std::size_t kBdpTableEntryCount = 8;
inline constexpr std::size_t kBdpTableEntrySize = 36;
inline constexpr std::size_t kBdpTableSize = kBdpTableEntryCount * kBdpTableEntrySize;
inline constexpr std::size_t kBdpEntryDescriptorOffset = 0;
inline constexpr std::size_t kBdpEntryTypeSize = 1; // the descriptor's low byte
inline constexpr std::size_t kBdpEntryDigestOffset = 4;
inline constexpr std::size_t kBdpDataAreaSize = 2048;
inline constexpr unsigned kBlobLengthShift = 8;
inline constexpr std::uint32_t kBlobTypeMask = 0xff;

inline constexpr std::size_t kPhyEntryIndex = 0;
inline constexpr std::size_t kMacEntryIndex = 1;
inline constexpr std::uint32_t kBlobTypePhy = 1;
inline constexpr std::uint32_t kBlobTypeMac = 2;

// The name of a blob type the tool writes ("PHY", "MAC"); empty for any other.
constexpr std::string_view blob_name(std::uint32_t type) {
    return type == kBlobTypePhy ? kPhyName : type == kBlobTypeMac ? kMacName : "";
}

constexpr std::size_t align4(std::size_t length) {
    return (length + 3) & ~std::size_t{3};
}

// The least bdpSize that holds the table and both padded blobs.
constexpr std::size_t bdp_bytes_needed(std::size_t phyLength, std::size_t macLength) {
    return kBdpTableSize + align4(phyLength) + align4(macLength);
}

} // namespace layout
