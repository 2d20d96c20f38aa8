#pragma once

#include "image/image_inspection.h"
#include "platform/platform.h"

#include <cstdint>
#include <string_view>
#include <vector>

// An image file open for reading, with the length it had when it was opened.
struct OpenedImage {
    platform::File file;
    std::uint64_t length = 0;
};

// Opens a regular file. False when it cannot be opened, with the system's
// reason in error, or is no regular file (error then clear).
bool open_image(std::string_view path, OpenedImage& image, platform::Error& error);

// Reads up to count bytes at offset, within length: a read that comes up short
// means the file has shrunk, and length says where it now ends.
platform::Error read_within(const platform::File& file, std::uint64_t offset, std::uint64_t count,
                            std::uint64_t& length, std::vector<std::uint8_t>& bytes);

// What inspection reads of an image, each part at its offset: the header, the
// table and the data area as far as the used entries' blobs reach; length is
// the file's as read, shorter than when it was opened if it shrank meanwhile.
struct ImageRead {
    std::vector<std::uint8_t> header;
    std::vector<std::uint8_t> table;
    std::vector<std::uint8_t> dataArea;
    std::uint64_t length = 0;

    ImageBytes bytes() const;
};

platform::Error read_for_inspection(const OpenedImage& image, ImageRead& read);
