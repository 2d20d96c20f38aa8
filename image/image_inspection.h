#pragma once

#include "image/header_sealing.h"
#include "image/layout.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

// A digest of the chain as stored and as recomputed over its range.
struct DigestCheck {
    std::array<std::uint8_t, layout::kDigestSize> stored{};
    std::array<std::uint8_t, layout::kDigestSize> computed{};
    bool inFile = false; // the digest and its whole range lie inside the file
    bool holds() const { return inFile && stored == computed; }
};

struct EntryInspection {
    std::size_t index = 0;
    std::uint32_t type = 0;
    std::uint32_t length = 0;
    std::uint64_t dataOffset = 0; // from the start of the data area
    bool inRegion = false;        // the padded blob lies inside the region and the file
    DigestCheck digest;
    std::span<const std::uint8_t> blob; // unpadded; empty when not inRegion
};

struct ImageInspection {
    std::uint64_t fileLength = 0;
    bool headerComplete = false;
    BdpPlacement placement;
    std::array<std::uint8_t, layout::kExpromDescriptorSize> expromDescriptor{};
    bool regionValid = false; // after the header, inside the file, holding the table
    DigestCheck headerDigest;
    DigestCheck secondAreaDigest;
    DigestCheck tableDigest;
    std::vector<EntryInspection> entries; // the used ones, in table order

    bool expromCleared() const;
    bool verified() const;
};

// The bytes an image holds where the inspector looks, each range as far as
// the file holds it.
struct ImageBytes {
    std::uint64_t fileLength = 0;
    std::span<const std::uint8_t> header;   // the first kHeaderSize bytes
    std::span<const std::uint8_t> table;    // kBdpTableSize bytes at bdpOffset
    std::span<const std::uint8_t> dataArea; // after the table, the region's bytes that the
                                            // used entries' blobs reach
};

// bdpOffset and bdpSize of a header, or of as much of one as a short file holds.
BdpPlacement placement_of(std::span<const std::uint8_t> header);
// Whether as much of a header as a file holds reaches both fields: a table is
// looked for only where they say.
bool holds_placement(std::span<const std::uint8_t> header);

// The data-area bytes that the used entries' padded blobs reach, inside a
// region of placement's size.
std::uint64_t data_bytes_used(std::span<const std::uint8_t, layout::kBdpTableSize> table,
                              const BdpPlacement& placement);

// Checks an image's digest chain and table from the bytes at the places the
// inspector looks; the entries' blobs are views into bytes.dataArea.
ImageInspection inspect_image(const ImageBytes& bytes);

// The same for a whole image in memory (of any length or content), never
// reading past its end.
ImageInspection inspect_image(std::span<const std::uint8_t> image);
