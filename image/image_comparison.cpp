#include "image/image_comparison.h"

#include <algorithm>
#include <array>

using namespace layout;

namespace {

constexpr std::size_t kBlockSize = 128 * 1024;
constexpr std::uint64_t kEndOfAnyFile = UINT64_MAX;

std::string part_name(const PlacedEntry& placed) {
    const std::string_view name = blob_name(placed.stored.type);
    return (name.empty() ? "entry " + std::to_string(placed.index) : std::string(name)) + " blob";
}

// The named stretches, those listed first winning where they overlap (a region
// that starts inside the header, say).
std::vector<ImagePart> named_stretches(const ImageHeader& header,
                                       std::span<const std::uint8_t, kBdpTableSize> table) {
    std::vector<ImagePart> named = {
        {kHeaderDigestOffset, kHeaderDigestOffset + kDigestSize, "header digest"},
        {kSecondAreaDigestOffset, kSecondAreaDigestOffset + kDigestSize, "second-area digest"},
        {kExpromDescriptorOffset, kExpromDescriptorOffset + kExpromDescriptorSize,
         "expansion-ROM descriptor"},
        {kBdpOffsetOffset, kBdpOffsetOffset + kBdpFieldSize, "bdpOffset"},
        {kBdpSizeOffset, kBdpSizeOffset + kBdpFieldSize, "bdpSize"},
        {kTableDigestOffset, kTableDigestOffset + kDigestSize, "table digest"},
    };
    const BdpPlacement placement = placement_of(header);
    const std::uint64_t regionEnd = std::uint64_t{placement.bdpOffset} + placement.bdpSize;
    const auto inRegion = [&](std::uint64_t from, std::uint64_t length, std::string name) {
        const std::uint64_t to = std::min(from + length, regionEnd);
        if (from < to) {
            named.push_back({from, to, std::move(name)});
        }
    };
    for (std::size_t index = 0; index < kBdpTableEntryCount; ++index) {
        const std::uint64_t entry = placement.bdpOffset + std::uint64_t{index} * kBdpTableEntrySize;
        const std::string prefix = "table entry " + std::to_string(index);
        inRegion(entry + kBdpEntryDescriptorOffset, kBdpEntryTypeSize, prefix + " type");
        inRegion(entry + kBdpEntryDescriptorOffset + kBdpEntryTypeSize,
                 kBdpEntryDigestOffset - kBdpEntryTypeSize, prefix + " length");
        inRegion(entry + kBdpEntryDigestOffset, kDigestSize, prefix + " digest");
    }
    const std::uint64_t dataStart = std::uint64_t{placement.bdpOffset} + kBdpTableSize;
    for (const PlacedEntry& placed : used_entries(table)) {
        inRegion(dataStart + placed.dataOffset, align4(placed.stored.length), part_name(placed));
    }
    inRegion(placement.bdpOffset, placement.bdpSize, "region padding");
    return named;
}

std::string name_at(const std::vector<ImagePart>& named, std::uint64_t offset,
                    std::uint64_t bdpOffset) {
    for (const ImagePart& part : named) {
        if (offset >= part.from && offset < part.to) {
            return part.name;
        }
    }
    return offset < bdpOffset ? "content before the region" : "content after the region";
}

const ImagePart& part_at(std::span<const ImagePart> parts, std::uint64_t offset) {
    const auto after =
        std::upper_bound(parts.begin(), parts.end(), offset,
                         [](std::uint64_t at, const ImagePart& part) { return at < part.from; });
    return *(after - 1);
}

void note(std::vector<PartDifference>& differences, const std::string& part, std::uint64_t offset) {
    const auto noted = std::find_if(differences.begin(), differences.end(),
                                    [&](const PartDifference& d) { return d.part == part; });
    if (noted == differences.end()) {
        differences.push_back({part, offset});
    } else {
        // Stretches are not compared in offset order: the first offset is the lowest.
        noted->offset = std::min(noted->offset, offset);
    }
}

// Copies the stretch of bytes (which start at bytesAt) that falls in the block at blockAt.
void lay_over(std::span<std::uint8_t> block, std::uint64_t blockAt,
              std::span<const std::uint8_t> bytes, std::uint64_t bytesAt) {
    const std::uint64_t from = std::max(blockAt, bytesAt);
    const std::uint64_t to = std::min(blockAt + block.size(), bytesAt + bytes.size());
    if (from < to) {
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(from - bytesAt), to - from,
                    block.begin() + static_cast<std::ptrdiff_t>(from - blockAt));
    }
}

void lay_zeros_over(std::span<std::uint8_t> block, std::uint64_t blockAt, std::uint64_t zerosAt,
                    std::uint64_t count) {
    const std::uint64_t from = std::max(blockAt, zerosAt);
    const std::uint64_t to = std::min(blockAt + block.size(), zerosAt + count);
    if (from < to) {
        std::fill_n(block.begin() + static_cast<std::ptrdiff_t>(from - blockAt), to - from, 0);
    }
}

// What provisioning lays over the base's bytes, as the writer writes it.
void lay_provisioned_over(std::span<std::uint8_t> block, std::uint64_t blockAt,
                          const ImageSource& source) {
    for (const OutputStretch& stretch : output_stretches(*source.provisioned, source.length)) {
        if (stretch.source == OutputStretch::Source::parts) {
            lay_over(block, blockAt, stretch.bytes, stretch.offset);
        } else if (stretch.source == OutputStretch::Source::zeros) {
            lay_zeros_over(block, blockAt, stretch.offset, stretch.length);
        }
    }
}

bool read_block(const ImageSource& source, std::uint64_t offset, std::size_t count,
                std::uint64_t& length, std::vector<std::uint8_t>& block, platform::Error& error) {
    std::size_t got = 0;
    block.resize(count);
    error = platform::read_fully_at(*source.file, offset, block, got);
    if (error.failed()) {
        return false;
    }
    block.resize(got);
    if (got < count) {
        length = std::min(length, offset + got);
    }
    if (source.provisioned != nullptr) {
        lay_provisioned_over(block, offset, source);
    }
    return true;
}

void note_differences(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b,
                      std::uint64_t blockAt, std::span<const ImagePart> parts,
                      std::vector<PartDifference>& differences) {
    std::size_t at = 0;
    while (at < a.size()) {
        const auto differing = std::mismatch(a.begin() + static_cast<std::ptrdiff_t>(at), a.end(),
                                             b.begin() + static_cast<std::ptrdiff_t>(at));
        if (differing.first == a.end()) {
            return;
        }
        at = static_cast<std::size_t>(differing.first - a.begin());
        const ImagePart& part = part_at(parts, blockAt + at);
        note(differences, part.name, blockAt + at);
        // The rest of that stretch can only repeat what is noted.
        at = static_cast<std::size_t>(std::min<std::uint64_t>(a.size(), part.to - blockAt));
    }
}

} // namespace

std::vector<ImagePart> image_parts(const ImageHeader& header,
                                   std::span<const std::uint8_t, kBdpTableSize> table) {
    const std::vector<ImagePart> named = named_stretches(header, table);
    const BdpPlacement placement = placement_of(header);
    std::vector<std::uint64_t> bounds = {0, placement.bdpOffset,
                                         std::uint64_t{placement.bdpOffset} + placement.bdpSize};
    for (const ImagePart& part : named) {
        bounds.push_back(part.from);
        bounds.push_back(part.to);
    }
    std::sort(bounds.begin(), bounds.end());
    bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());
    bounds.push_back(kEndOfAnyFile);
    std::vector<ImagePart> parts;
    for (std::size_t i = 0; i + 1 < bounds.size(); ++i) {
        std::string name = name_at(named, bounds[i], placement.bdpOffset);
        if (!parts.empty() && parts.back().name == name) {
            parts.back().to = bounds[i + 1];
        } else {
            parts.push_back({bounds[i], bounds[i + 1], std::move(name)});
        }
    }
    return parts;
}

namespace {

// A stretch of a and the stretch of b it is compared with.
struct PairedStretch {
    std::uint64_t fromA = 0;
    std::uint64_t fromB = 0;
    std::uint64_t length = 0;
};

// The stretches to compare within the first common bytes: the whole at the same
// offset, or both regions with each other (as far as the larger reaches in both
// files) and what lies outside both at the same offset.
std::vector<PairedStretch> paired_stretches(const ImageSource& a, const ImageSource& b,
                                            std::uint64_t common) {
    if (!a.region || !b.region) {
        return {{0, 0, common}};
    }
    const std::uint64_t regionLength =
        std::min({std::max(std::uint64_t{a.region->bdpSize}, std::uint64_t{b.region->bdpSize}),
                  a.length - std::min(a.length, std::uint64_t{a.region->bdpOffset}),
                  b.length - std::min(b.length, std::uint64_t{b.region->bdpOffset})});
    std::vector<PairedStretch> stretches;
    if (regionLength > 0) {
        stretches.push_back({a.region->bdpOffset, b.region->bdpOffset, regionLength});
    }
    std::array<std::pair<std::uint64_t, std::uint64_t>, 2> regions = {
        {{a.region->bdpOffset, a.region->bdpOffset + regionLength},
         {b.region->bdpOffset, b.region->bdpOffset + regionLength}}};
    std::sort(regions.begin(), regions.end());
    std::uint64_t at = 0;
    for (const auto& [from, to] : regions) {
        if (at < std::min(from, common)) {
            stretches.push_back({at, at, std::min(from, common) - at});
        }
        at = std::max(at, to);
    }
    if (at < common) {
        stretches.push_back({at, at, common - at});
    }
    return stretches;
}

// False when a read fails; a file found shorter ends the stretch there.
bool compare_stretch(const ImageSource& a, const ImageSource& b, const PairedStretch& stretch,
                     std::span<const ImagePart> parts, ImageComparison& comparison,
                     ReadFailure& failure) {
    std::vector<std::uint8_t> blockA;
    std::vector<std::uint8_t> blockB;
    for (std::uint64_t done = 0; done < stretch.length;) {
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, stretch.length - done));
        if (!read_block(a, stretch.fromA + done, count, comparison.lengthA, blockA,
                        failure.error)) {
            return false;
        }
        if (!read_block(b, stretch.fromB + done, count, comparison.lengthB, blockB,
                        failure.error)) {
            failure.inB = true;
            return false;
        }
        const std::size_t both = std::min(blockA.size(), blockB.size());
        note_differences(std::span(blockA).first(both), std::span(blockB).first(both),
                         stretch.fromA + done, parts, comparison.differences);
        done += both;
        if (both < count) {
            break;
        }
    }
    return true;
}

} // namespace

bool compare_images(const ImageSource& a, const ImageSource& b, std::span<const ImagePart> parts,
                    ImageComparison& comparison, ReadFailure& failure) {
    comparison = {a.length, b.length, {}};
    failure = {};
    for (const PairedStretch& stretch :
         paired_stretches(a, b, std::min(comparison.lengthA, comparison.lengthB))) {
        if (!compare_stretch(a, b, stretch, parts, comparison, failure)) {
            return false;
        }
    }
    std::sort(comparison.differences.begin(), comparison.differences.end(),
              [](const PartDifference& x, const PartDifference& y) { return x.offset < y.offset; });
    if (comparison.lengthA != comparison.lengthB) {
        comparison.differences.push_back(
            {"length", std::min(comparison.lengthA, comparison.lengthB)});
    }
    return true;
}
