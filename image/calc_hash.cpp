#include "image/calc_hash.h"

#include "common/report.h"

#include <algorithm>
#include <array>
#include <tomcrypt.h>

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

Status calcHash(Digest destination, std::span<const std::uint8_t> source) {
    std::array<std::uint8_t, layout::kDigestSize> digest{};
    hash_state state;
    if (sha256_init(&state) != CRYPT_OK || !hash_pieces(state, source) ||
        sha256_done(&state, digest.data()) != CRYPT_OK) {
        print_text("calcHash::PROVKIT_ERR_LIBTOM\n");
        return PROVKIT_ERR_LIBTOM;
    }
    std::copy(digest.begin(), digest.end(), destination.begin());
    return PROVKIT_OK;
}
