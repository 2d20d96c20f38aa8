#pragma once

#include "image/header_sealing.h"
#include "image/layout.h"
#include "platform/platform.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// A named stretch [from, to) of an image's layout.
struct ImagePart {
    std::uint64_t from = 0;
    std::uint64_t to = 0;
    std::string name;
};

// The parts of the layout that header and table give, in offset order and
// covering every offset: the header's digests and fields, each table entry's
// type, length and digest, each used entry's padded blob, the region's padding,
// and the content before and after the region.
std::vector<ImagePart> image_parts(const ImageHeader& header,
                                   std::span<const std::uint8_t, layout::kBdpTableSize> table);

// The bytes of an image by offset: a file as it is or, with provisioned set, a
// base image with the sealed header and the region provisioning writes laid over it.
struct ImageSource {
    const platform::File* file = nullptr;
    std::uint64_t length = 0; // as when opened
    const ProvisionedParts* provisioned = nullptr;
    // Where its header puts the region; when both images give one, their regions
    // are compared with each other wherever each lies.
    std::optional<BdpPlacement> region;
};

struct PartDifference {
    std::string part; // an ImagePart's name, or "length"
    std::uint64_t offset = 0;
};

struct ImageComparison {
    std::uint64_t lengthA = 0; // as read: shorter than when opened if the file shrank
    std::uint64_t lengthB = 0;
    std::vector<PartDifference> differences; // by first differing offset, "length" last
};

struct ReadFailure {
    bool inB = false;
    platform::Error error;
};

// Compares a with b in blocks, naming each part of parts (a's) where they
// differ with a's first offset where they do: byte by byte at the same offset,
// or, where both give their region, the regions with each other and the rest
// at the same offset. False when a read fails.
bool compare_images(const ImageSource& a, const ImageSource& b, std::span<const ImagePart> parts,
                    ImageComparison& comparison, ReadFailure& failure);
