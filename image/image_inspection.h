#pragma once

#include "image/header_sealing.h"
#include "image/layout.h"
#include "platform/platform.h"

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
    std::uint32_t length = 0;     // unpadded
    std::uint64_t dataOffset = 0; // from the start of the data area
    std::uint64_t blobOffset = 0; // from the start of the image
    bool inRegion = false;        // the padded blob lies inside the region and the file
    DigestCheck digest;
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

class ImageBytes;

// Checks an image's digest chain and table, reading its header and table and
// hashing each blob a block at a time, so that memory does not follow the
// lengths the table claims.
platform::Error inspect_image(ImageBytes& source, ImageInspection& inspection);

// The same for a whole image in memory (of any length or content), never
// reading past its end.
ImageInspection inspect_image(std::span<const std::uint8_t> image);
