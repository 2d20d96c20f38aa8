#include "image/image_inspection.h"

#include "image/bytes.h"
#include "image/calc_hash.h"

#include <algorithm>
#include <optional>

using namespace layout;

namespace {

DigestCheck check_digest(std::span<const std::uint8_t> container, std::uint64_t digestOffset,
                         std::optional<std::span<const std::uint8_t>> covered) {
    DigestCheck check;
    const auto stored = checked_slice(container, digestOffset, kDigestSize);
    if (!stored || !covered) {
        return check;
    }
    std::copy(stored->begin(), stored->end(), check.stored.begin());
    check.inFile = calcHash(check.computed, *covered) == PROVKIT_OK;
    return check;
}

DigestCheck check_header_digest(std::span<const std::uint8_t> image, std::size_t digestOffset,
                                ByteRange covered) {
    return check_digest(image, digestOffset, checked_slice(image, covered.offset, covered.length));
}

EntryInspection inspect_entry(std::span<const std::uint8_t> table, std::size_t index,
                              std::span<const std::uint8_t> dataArea, std::uint64_t dataOffset) {
    const std::size_t entryOffset = index * kBdpTableEntrySize;
    const std::uint32_t descriptor = load_le32(table, entryOffset + kBdpEntryDescriptorOffset);
    EntryInspection entry;
    entry.index = index;
    entry.type = descriptor & 0xff;
    entry.length = descriptor >> kBlobLengthShift;
    entry.dataOffset = dataOffset;
    const auto padded = checked_slice(dataArea, dataOffset, align4(entry.length));
    entry.digest = check_digest(table, entryOffset + kBdpEntryDigestOffset, padded);
    entry.inRegion = padded.has_value();
    if (padded) {
        entry.blob = padded->first(entry.length);
    }
    return entry;
}

void inspect_table(std::span<const std::uint8_t> image, ImageInspection& inspection) {
    const BdpPlacement& placement = inspection.placement;
    const auto table = checked_slice(image, placement.bdpOffset, kBdpTableSize);
    inspection.tableDigest = check_digest(image, kTableDigestOffset, table);
    if (!table) {
        return;
    }
    // The data area as far as both the region and the file hold it.
    const std::uint64_t regionData =
        placement.bdpSize > kBdpTableSize ? placement.bdpSize - kBdpTableSize : 0;
    const std::uint64_t dataStart = std::uint64_t{placement.bdpOffset} + kBdpTableSize;
    const std::uint64_t inFile = image.size() - dataStart;
    const std::span<const std::uint8_t> dataArea =
        *checked_slice(image, dataStart, std::min(regionData, inFile));
    std::uint64_t dataOffset = 0;
    for (std::size_t index = 0; index < kBdpTableEntryCount; ++index) {
        if (load_le32(*table, index * kBdpTableEntrySize + kBdpEntryDescriptorOffset) == 0) {
            continue;
        }
        EntryInspection entry = inspect_entry(*table, index, dataArea, dataOffset);
        dataOffset += align4(entry.length);
        inspection.entries.push_back(entry);
    }
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

ImageInspection inspect_image(std::span<const std::uint8_t> image) {
    ImageInspection inspection;
    inspection.fileLength = image.size();
    inspection.headerComplete = image.size() >= kHeaderSize;
    ImageHeader header{};
    std::copy_n(image.begin(), std::min(image.size(), kHeaderSize), header.begin());
    inspection.placement = read_bdp_placement(header);
    std::copy_n(header.begin() + kExpromDescriptorOffset, kExpromDescriptorSize,
                inspection.expromDescriptor.begin());
    inspection.regionValid = inspection.headerComplete &&
                             region_inside_image(inspection.placement, image.size()) &&
                             inspection.placement.bdpSize >= kBdpTableSize;
    inspection.headerDigest = check_header_digest(image, kHeaderDigestOffset, kHeaderDigested);
    inspection.secondAreaDigest = check_header_digest(image, kSecondAreaDigestOffset, kSecondArea);
    inspect_table(image, inspection);
    return inspection;
}
