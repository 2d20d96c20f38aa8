#include "image/calc_hash.h"

#include <algorithm>
#include <tomcrypt.h>
#include <vector>

namespace {

constexpr std::size_t kHashBlockSize = 128 * 1024;

} // namespace

namespace {

// The library counts a piece in an unsigned long, 32 bits on Windows.
constexpr std::size_t kLargestPiece = std::size_t{1} << 30;

bool hash_pieces(hash_state& state, std::span<const std::uint8_t> source) {
    while (!source.empty()) {
        const std::size_t piece = std::min(source.size(), kLargestPiece);
        if (sha256_process(&state, source.data(), static_cast<unsigned long>(piece)) != CRYPT_OK) {
            return false;
        }
        source = source.subspan(piece);
    }
    return true;
}

} // namespace

Result<> calcHash(Digest destination, std::span<const std::uint8_t> source) {
    std::array<std::uint8_t, layout::kDigestSize> digest{};
    hash_state state;
    if (sha256_init(&state) != CRYPT_OK || !hash_pieces(state, source) ||
        sha256_done(&state, digest.data()) != CRYPT_OK) {
        return failure_of(PROVKIT_ERR_LIBTOM, Check::digest_library);
    }
    std::copy(digest.begin(), digest.end(), destination.begin());
    return {};
}

Result<> hash_file_range(HashStream& hash, const platform::File& file, std::uint64_t offset,
                         std::uint64_t count) {
    std::vector<std::uint8_t> block(
        static_cast<std::size_t>(std::min<std::uint64_t>(count, kHashBlockSize)));
    for (std::uint64_t done = 0; done < count;) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(count - done, block.size()));
        std::size_t got = 0;
        const platform::Error error =
            platform::read_fully_at(file, offset + done, std::span(block).first(wanted), got);
        if (error.failed() || got == 0) {
            return failure_of(PROVKIT_ERR_FILE, Check::base_unread, {}, error);
        }
        hash.add(std::span(block).first(got));
        done += got;
    }
    return {};
}

Result<DigestValue> file_sha256(const platform::File& file, std::uint64_t length) {
    HashStream hash;
    if (Result<> added = hash_file_range(hash, file, 0, length); !added) {
        return added.error();
    }
    return hash.finish();
}
