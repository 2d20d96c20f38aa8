#include "image/image_reading.h"

#include "image/image_inspection.h"
#include "image/layout.h"

#include <algorithm>

using namespace layout;

namespace {

// Large enough that a blob costs few reads, small enough to stay in cache.
constexpr std::size_t kReadBlock = 128 * 1024;

} // namespace

bool open_image(std::string_view path, ImageKinds kinds, OpenedImage& image,
                platform::Error& error) {
    error = platform::open_for_reading_without_waiting(path, image.file);
    if (!error.failed()) {
        error = platform::info_of(image.file, image.info);
    }
    if (error.failed()) {
        return false;
    }
    if (image.info.kind == platform::FileKind::regular) {
        image.length = image.info.size;
        return true;
    }
    if (kinds != ImageKinds::devices_too || image.info.kind != platform::FileKind::other) {
        return false;
    }
    error = platform::seekable_length(image.file, image.length);
    return !error.failed();
}

platform::Error ImageBytes::read(std::uint64_t offset, std::span<std::uint8_t> into,
                                 std::size_t& got) {
    got = 0;
    const std::uint64_t wanted =
        offset >= length_ ? 0 : std::min<std::uint64_t>(into.size(), length_ - offset);
    if (file_ == nullptr) {
        got = static_cast<std::size_t>(wanted);
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), got, into.begin());
        return {};
    }
    const platform::Error error =
        platform::read_fully_at(*file_, offset, into.first(static_cast<std::size_t>(wanted)), got);
    if (!error.failed() && got < wanted) {
        length_ = offset + got;
    }
    return error;
}

platform::Error ImageBytes::read(std::uint64_t offset, std::uint64_t count,
                                 std::vector<std::uint8_t>& bytes) {
    const std::uint64_t wanted = offset >= length_ ? 0 : std::min(count, length_ - offset);
    bytes.resize(static_cast<std::size_t>(wanted));
    std::size_t got = 0;
    const platform::Error error = read(offset, bytes, got);
    bytes.resize(got);
    return error;
}

platform::Error
ImageBytes::read_blocks(std::uint64_t offset, std::uint64_t count,
                        const std::function<bool(std::span<const std::uint8_t>)>& take,
                        bool& complete) {
    complete = false;
    if (offset > length_) {
        return {}; // even an empty range there is not in the file
    }
    std::vector<std::uint8_t> block(
        static_cast<std::size_t>(std::min<std::uint64_t>(count, kReadBlock)));
    for (std::uint64_t done = 0; done < count;) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(count - done, block.size()));
        std::size_t got = 0;
        if (const platform::Error error = read(offset + done, std::span(block).first(wanted), got);
            error.failed() || got < wanted) {
            return error;
        }
        if (!take(std::span(block).first(got))) {
            return {};
        }
        done += got;
    }
    complete = true;
    return {};
}

void ImageBytes::shorten_to_current_size() {
    platform::FileInfo info;
    if (file_ != nullptr && !platform::info_of(*file_, info).failed()) {
        length_ = std::min(length_, info.size);
    }
}

platform::Error read_frame(ImageBytes& source, ImageFrame& frame) {
    frame.table.clear();
    if (const platform::Error error = source.read(0, kHeaderSize, frame.header); error.failed()) {
        return error;
    }
    if (!holds_placement(frame.header)) {
        return {};
    }
    return source.read(placement_of(frame.header).bdpOffset, kBdpTableSize, frame.table);
}
