#include "image/copy.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

constexpr std::size_t kCopyBlockSize = 128 * 1024;

std::optional<std::uint64_t> advanced(std::optional<std::uint64_t> offset, std::uint64_t by) {
    return offset ? std::optional<std::uint64_t>(*offset + by) : std::nullopt;
}

Failure unread(const platform::Error& reason) {
    return failure_of(PROVKIT_ERR_FILE, Check::base_unread, {}, reason);
}

Failure unwritten(const platform::Error& reason) {
    return failure_of(PROVKIT_ERR_FILE, Check::output_unwritten, {}, reason);
}

Result<> copy_by_blocks(const platform::File& in, std::uint64_t inOffset, const platform::File& out,
                        std::optional<std::uint64_t> outOffset, std::uint64_t count) {
    std::vector<std::uint8_t> block(kCopyBlockSize);
    for (std::uint64_t done = 0; done < count;) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(count - done, block.size()));
        std::size_t got = 0;
        const platform::Error read =
            platform::read_fully_at(in, inOffset + done, std::span(block).first(wanted), got);
        if (read.failed() || got == 0) {
            return unread(read);
        }
        if (Result<> written =
                write_bytes(out, advanced(outOffset, done), std::span(block).first(got));
            !written) {
            return written;
        }
        done += got;
    }
    return {};
}

} // namespace

Result<> write_bytes(const platform::File& out, std::optional<std::uint64_t> offset,
                     std::span<const std::uint8_t> bytes) {
    const platform::Error error =
        offset ? platform::write_all_at(out, *offset, bytes) : platform::write_all(out, bytes);
    return error.failed() ? Result<>(unwritten(error)) : Result<>();
}

Result<> write_zeros(const platform::File& out, std::optional<std::uint64_t> offset,
                     std::uint64_t count) {
    static constexpr std::array<std::uint8_t, kCopyBlockSize> zeros{};
    for (std::uint64_t written = 0; written < count;) {
        const auto block =
            static_cast<std::size_t>(std::min<std::uint64_t>(count - written, zeros.size()));
        if (Result<> done =
                write_bytes(out, advanced(offset, written), std::span(zeros).first(block));
            !done) {
            return done;
        }
        written += block;
    }
    return {};
}

Result<> copy(const platform::File& in, std::uint64_t inOffset, const platform::File& out,
              std::optional<std::uint64_t> outOffset, std::uint64_t count) {
    if (count == 0) {
        return {};
    }
    if (outOffset) {
        std::uint64_t copied = 0;
        const platform::Error error =
            platform::kernel_copy(in, inOffset, out, *outOffset, count, copied);
        if (!error.failed()) {
            return copied == count ? Result<>() : Result<>(unread({}));
        }
        if (!error.unsupported()) {
            return unwritten(error);
        }
    }
    // Not every pair of files allows the kernel copy; moving blocks always works.
    return copy_by_blocks(in, inOffset, out, outOffset, count);
}
