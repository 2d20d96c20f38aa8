#include "image/image_inspection.h"

#include "image/bytes.h"
#include "image/calc_hash.h"
#include "image/header_sealing.h"
#include "image/image_reading.h"

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
    check.inFile = static_cast<bool>(calcHash(check.computed, *covered));
    return check;
}

DigestCheck check_header_digest(std::span<const std::uint8_t> header, std::size_t digestOffset,
                                ByteRange covered) {
    return check_digest(checked_slice(header, digestOffset, kDigestSize),
                        checked_slice(header, covered.offset, covered.length));
}

// The digest of count bytes at offset, hashed a block at a time; not in the
// file when the image ends before them.
platform::Error check_range_digest(ImageBytes& source, std::uint64_t offset, std::uint64_t count,
                                   DigestCheck& check) {
    HashStream hash;
    bool complete = false;
    const platform::Error error = source.read_blocks(
        offset, count,
        [&](std::span<const std::uint8_t> block) {
            hash.add(block);
            return true;
        },
        complete);
    if (!complete) {
        return error;
    }
    const Result<DigestValue> digest = hash.finish();
    check.inFile = static_cast<bool>(digest);
    if (digest) {
        check.computed = *digest;
    }
    return {};
}

platform::Error inspect_entry(ImageBytes& source, const PlacedEntry& placed,
                              const BdpPlacement& placement, EntryInspection& entry) {
    entry.index = placed.index;
    entry.type = placed.stored.type;
    entry.length = placed.stored.length;
    entry.dataOffset = placed.dataOffset;
    entry.blobOffset = std::uint64_t{placement.bdpOffset} + kBdpTableSize + placed.dataOffset;
    entry.digest.stored = placed.stored.digest;
    const std::uint64_t padded = align4(entry.length);
    if (placed.dataOffset + padded > data_area_size(placement)) {
        return {};
    }
    if (const platform::Error error =
            check_range_digest(source, entry.blobOffset, padded, entry.digest);
        error.failed()) {
        return error;
    }
    entry.inRegion = entry.digest.inFile;
    return {};
}

platform::Error inspect_table(ImageBytes& source, const ImageFrame& frame,
                              ImageInspection& inspection) {
    const std::optional<std::span<const std::uint8_t>> table =
        checked_slice(frame.table, 0, kBdpTableSize);
    inspection.tableDigest =
        check_digest(checked_slice(frame.header, kTableDigestOffset, kDigestSize), table);
    if (!table) {
        return {};
    }
    for (const PlacedEntry& placed :
         used_entries(std::span<const std::uint8_t, kBdpTableSize>(table->data(), kBdpTableSize))) {
        if (const platform::Error error = inspect_entry(source, placed, inspection.placement,
                                                        inspection.entries.emplace_back());
            error.failed()) {
            return error;
        }
    }
    return {};
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

platform::Error inspect_image(ImageBytes& source, ImageInspection& inspection) {
    inspection = {};
    ImageFrame frame;
    if (const platform::Error error = read_frame(source, frame); error.failed()) {
        return error;
    }
    inspection.headerComplete = frame.header.size() >= kHeaderSize;
    inspection.placement = placement_of(frame.header);
    const std::span<const std::uint8_t> descriptor =
        clipped(frame.header, kExpromDescriptorOffset, kExpromDescriptorSize);
    std::copy(descriptor.begin(), descriptor.end(), inspection.expromDescriptor.begin());
    inspection.headerDigest =
        check_header_digest(frame.header, kHeaderDigestOffset, kHeaderDigested);
    inspection.secondAreaDigest =
        check_header_digest(frame.header, kSecondAreaDigestOffset, kSecondArea);
    if (const platform::Error error = inspect_table(source, frame, inspection); error.failed()) {
        return error;
    }
    source.shorten_to_current_size();
    inspection.fileLength = source.length();
    inspection.regionValid = inspection.headerComplete &&
                             region_inside_image(inspection.placement, inspection.fileLength) &&
                             inspection.placement.bdpSize >= kBdpTableSize;
    return {};
}

ImageInspection inspect_image(std::span<const std::uint8_t> image) {
    ImageBytes source(image);
    ImageInspection inspection;
    (void)inspect_image(source, inspection);
    return inspection;
}
