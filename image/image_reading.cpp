#include "image/image_reading.h"

#include "image/header_sealing.h"

#include <algorithm>

using namespace layout;

bool open_image(std::string_view path, OpenedImage& image, platform::Error& error) {
    platform::FileInfo info;
    error = platform::open_for_reading(path, image.file);
    if (!error.failed()) {
        error = platform::info_of(image.file, info);
    }
    if (error.failed() || info.kind != platform::FileKind::regular) {
        return false;
    }
    image.length = info.size;
    return true;
}

platform::Error read_within(const platform::File& file, std::uint64_t offset, std::uint64_t count,
                            std::uint64_t& length, std::vector<std::uint8_t>& bytes) {
    const std::uint64_t wanted = offset >= length ? 0 : std::min(count, length - offset);
    bytes.resize(static_cast<std::size_t>(wanted));
    std::size_t got = 0;
    const platform::Error error = platform::read_fully_at(file, offset, bytes, got);
    if (error.failed()) {
        return error;
    }
    bytes.resize(got);
    if (got < wanted) {
        length = offset + got;
    }
    return {};
}

ImageBytes ImageRead::bytes() const {
    return {length, header, table, dataArea};
}

namespace {

platform::Error read_parts(const OpenedImage& image, ImageRead& read) {
    read.length = image.length;
    if (const platform::Error error =
            read_within(image.file, 0, kHeaderSize, read.length, read.header);
        error.failed()) {
        return error;
    }
    const BdpPlacement placement = placement_of(read.header);
    read.table.clear();
    read.dataArea.clear();
    if (!holds_placement(read.header)) {
        return {};
    }
    if (const platform::Error error =
            read_within(image.file, placement.bdpOffset, kBdpTableSize, read.length, read.table);
        error.failed() || read.table.size() < kBdpTableSize) {
        return error;
    }
    const std::span<const std::uint8_t, kBdpTableSize> table(read.table.data(), kBdpTableSize);
    return read_within(image.file, std::uint64_t{placement.bdpOffset} + kBdpTableSize,
                       data_bytes_used(table, placement), read.length, read.dataArea);
}

// It may have shrunk past the bytes read, too.
void shorten_to_current_size(const platform::File& file, std::uint64_t& length) {
    platform::FileInfo info;
    if (!platform::info_of(file, info).failed()) {
        length = std::min(length, info.size);
    }
}

} // namespace

platform::Error read_for_inspection(const OpenedImage& image, ImageRead& read) {
    const platform::Error error = read_parts(image, read);
    shorten_to_current_size(image.file, read.length);
    return error;
}
