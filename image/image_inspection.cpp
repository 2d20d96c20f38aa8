#include "image/image_inspection.h"

#include "image/bytes.h"
#include "image/calc_hash.h"
#include "image/header_sealing.h"

#include <algorithm>
#include <optional>

using namespace layout;

namespace {

DigestCheck check_digest(std::optional<std::span<const std::uint8_t>> stored,
                         std::optional<std::span<const std::uint8_t>> covered) {
    DigestCheck check;
    if (!stored || !covered) {
        return check;
    }
    std::copy(stored->begin(), stored->end(), check.stored.begin());
    check.inFile = calcHash(check.computed, *covered) == PROVKIT_OK;
    return check;
}

DigestCheck check_header_digest(std::span<const std::uint8_t> header, std::size_t digestOffset,
                                ByteRange covered) {
    return check_digest(checked_slice(header, digestOffset, kDigestSize),
                        checked_slice(header, covered.offset, covered.length));
}

EntryInspection inspect_entry(const PlacedEntry& placed, std::span<const std::uint8_t> dataArea) {
    EntryInspection entry;
    entry.index = placed.index;
    entry.type = placed.stored.type;
    entry.length = placed.stored.length;
    entry.dataOffset = placed.dataOffset;
    const auto padded = checked_slice(dataArea, placed.dataOffset, align4(entry.length));
    entry.digest = check_digest(placed.stored.digest, padded);
    entry.inRegion = padded.has_value();
    if (padded) {
        entry.blob = padded->first(entry.length);
    }
    return entry;
}

void inspect_table(const ImageBytes& bytes, ImageInspection& inspection) {
    const std::optional<std::span<const std::uint8_t>> table =
        checked_slice(bytes.table, 0, kBdpTableSize);
    inspection.tableDigest =
        check_digest(checked_slice(bytes.header, kTableDigestOffset, kDigestSize), table);
    if (!table) {
        return;
    }
    for (const PlacedEntry& placed :
         used_entries(std::span<const std::uint8_t, kBdpTableSize>(table->data(), kBdpTableSize))) {
        inspection.entries.push_back(inspect_entry(placed, bytes.dataArea));
    }
}

// The part of [offset, offset + length) that lies inside bytes.
std::span<const std::uint8_t> clipped(std::span<const std::uint8_t> bytes, std::uint64_t offset,
                                      std::uint64_t length) {
    if (offset >= bytes.size()) {
        return {};
    }
    const std::uint64_t inside = std::min<std::uint64_t>(length, bytes.size() - offset);
    return *checked_slice(bytes, offset, inside);
}

} // namespace

bool ImageInspection::expromCleared() const {
    return std::all_of(expromDescriptor.begin(), expromDescriptor.end(),
                       [](std::uint8_t byte) { return byte == 0; });
}

bool ImageInspection::verified() const {
    return regionValid && headerDigest.holds() && secondAreaDigest.holds() && tableDigest.holds() &&
           std::all_of(entries.begin(), entries.end(),
                       [](const EntryInspection& entry) { return entry.digest.holds(); });
}

BdpPlacement placement_of(std::span<const std::uint8_t> header) {
    ImageHeader whole{};
    std::copy_n(header.begin(), std::min(header.size(), kHeaderSize), whole.begin());
    return read_bdp_placement(whole);
}

bool holds_placement(std::span<const std::uint8_t> header) {
    return header.size() >= kBdpSizeOffset + kBdpFieldSize;
}

std::uint64_t data_bytes_used(std::span<const std::uint8_t, kBdpTableSize> table,
                              const BdpPlacement& placement) {
    std::uint64_t reached = 0;
    for (const PlacedEntry& placed : used_entries(table)) {
        reached = std::max(reached, placed.dataOffset + align4(placed.stored.length));
    }
    return std::min(reached, data_area_size(placement));
}

ImageInspection inspect_image(const ImageBytes& bytes) {
    ImageInspection inspection;
    inspection.fileLength = bytes.fileLength;
    inspection.headerComplete = bytes.header.size() >= kHeaderSize;
    inspection.placement = placement_of(bytes.header);
    const std::span<const std::uint8_t> descriptor =
        clipped(bytes.header, kExpromDescriptorOffset, kExpromDescriptorSize);
    std::copy(descriptor.begin(), descriptor.end(), inspection.expromDescriptor.begin());
    inspection.regionValid = inspection.headerComplete &&
                             region_inside_image(inspection.placement, bytes.fileLength) &&
                             inspection.placement.bdpSize >= kBdpTableSize;
    inspection.headerDigest =
        check_header_digest(bytes.header, kHeaderDigestOffset, kHeaderDigested);
    inspection.secondAreaDigest =
        check_header_digest(bytes.header, kSecondAreaDigestOffset, kSecondArea);
    inspect_table(bytes, inspection);
    return inspection;
}

ImageInspection inspect_image(std::span<const std::uint8_t> image) {
    ImageBytes bytes;
    bytes.fileLength = image.size();
    bytes.header = clipped(image, 0, kHeaderSize);
    const BdpPlacement placement = placement_of(bytes.header);
    if (holds_placement(bytes.header)) {
        bytes.table = clipped(image, placement.bdpOffset, kBdpTableSize);
    }
    if (bytes.table.size() == kBdpTableSize) {
        bytes.dataArea = clipped(image, std::uint64_t{placement.bdpOffset} + kBdpTableSize,
                                 data_area_size(placement));
    }
    return inspect_image(bytes);
}
