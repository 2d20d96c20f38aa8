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

DigestCheck check_header_digest(std::span<const std::uint8_t> image, std::size_t digestOffset,
                                ByteRange covered) {
    return check_digest(checked_slice(image, digestOffset, kDigestSize),
                        checked_slice(image, covered.offset, covered.length));
}

EntryInspection inspect_entry(const BdpTableEntry& stored, std::size_t index,
                              std::span<const std::uint8_t> dataArea, std::uint64_t dataOffset) {
    EntryInspection entry;
    entry.index = index;
    entry.type = stored.type;
    entry.length = stored.length;
    entry.dataOffset = dataOffset;
    const auto padded = checked_slice(dataArea, dataOffset, align4(entry.length));
    entry.digest = check_digest(stored.digest, padded);
    entry.inRegion = padded.has_value();
    if (padded) {
        entry.blob = padded->first(entry.length);
    }
    return entry;
}

void inspect_table(std::span<const std::uint8_t> image, ImageInspection& inspection) {
    const BdpPlacement& placement = inspection.placement;
    const auto table = checked_slice(image, placement.bdpOffset, kBdpTableSize);
    inspection.tableDigest =
        check_digest(checked_slice(image, kTableDigestOffset, kDigestSize), table);
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
    const std::span<const std::uint8_t, kBdpTableSize> fixedTable(table->data(), kBdpTableSize);
    for (std::size_t index = 0; index < kBdpTableEntryCount; ++index) {
        const BdpTableEntry stored = load_table_entry(fixedTable, index);
        if (stored.type == 0 && stored.length == 0) {
            continue;
        }
        EntryInspection entry = inspect_entry(stored, index, dataArea, dataOffset);
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
