#include "image/calc_hash.h"

#include "common/report.h"

#include <algorithm>
#include <array>
#include <tomcrypt.h>

Status calcHash(Digest destination, std::span<const std::uint8_t> source) {
    std::array<std::uint8_t, layout::kDigestSize> digest{};
    // The library aborts on a null input even for an empty message.
    const std::uint8_t* bytes = source.empty() ? digest.data() : source.data();
    hash_state state;
    if (sha256_init(&state) != CRYPT_OK ||
        sha256_process(&state, bytes, source.size()) != CRYPT_OK ||
        sha256_done(&state, digest.data()) != CRYPT_OK) {
        print_text("calcHash::PROVKIT_ERR_LIBTOM\n");
        return PROVKIT_ERR_LIBTOM;
    }
    std::copy(digest.begin(), digest.end(), destination.begin());
    return PROVKIT_OK;
}
