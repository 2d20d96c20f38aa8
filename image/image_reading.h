#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

// An image file open for reading, with the length it had when it was opened.
struct OpenedImage {
    platform::File file;
    platform::FileInfo info;
    std::uint64_t length = 0; // a device's is where seeking ends
};

// What may be opened as an image besides a regular file.
enum class ImageKinds { regular_only, devices_too };

// Opens an image: a regular file or, where asked, a device that seeks. A FIFO
// is refused without waiting for its writer. False when it cannot be opened,
// with the system's reason in error, or is of another kind (error then clear,
// image.info.kind telling which).
bool open_image(std::string_view path, ImageKinds kinds, OpenedImage& image,
                platform::Error& error);

// An image's bytes as the inspector reads them, a range at a time: in memory, or
// from an open file. A file that turns out shorter than when it was opened is
// read as the short file it became: its length shrinks to where reading ended.
class ImageBytes {
  public:
    explicit ImageBytes(std::span<const std::uint8_t> bytes)
        : bytes_(bytes), length_(bytes.size()) {}
    ImageBytes(const platform::File& file, std::uint64_t length) : file_(&file), length_(length) {}

    std::uint64_t length() const { return length_; }
    // Reads the bytes at offset into into, as far as the image reaches; got is the count.
    platform::Error read(std::uint64_t offset, std::span<std::uint8_t> into, std::size_t& got);
    // Reads up to count bytes at offset into bytes, as far as the image reaches.
    platform::Error read(std::uint64_t offset, std::uint64_t count,
                         std::vector<std::uint8_t>& bytes);
    // Hands the count bytes at offset to take a block at a time, so that memory
    // does not follow count. Stops early, with no error, where the image ends
    // (a short last block is not handed on) or take returns false; complete
    // says whether all count bytes were taken.
    platform::Error read_blocks(std::uint64_t offset, std::uint64_t count,
                                const std::function<bool(std::span<const std::uint8_t>)>& take,
                                bool& complete);
    // A file may have shrunk past the last bytes read, too.
    void shorten_to_current_size();

  private:
    std::span<const std::uint8_t> bytes_;
    const platform::File* file_ = nullptr;
    std::uint64_t length_ = 0;
};

// The header and the table an image holds, each as far as it holds them: the
// table at the bdpOffset the header gives, when the header reaches that field.
struct ImageFrame {
    std::vector<std::uint8_t> header;
    std::vector<std::uint8_t> table;
};

platform::Error read_frame(ImageBytes& source, ImageFrame& frame);
