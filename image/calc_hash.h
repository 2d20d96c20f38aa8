#pragma once

#include "common/status.h"
#include "image/layout.h"

#include <cstdint>
#include <span>

using Digest = std::span<std::uint8_t, layout::kDigestSize>;

// SHA-256 of source into destination, which is written only on success.
// On a library failure prints "calcHash::PROVKIT_ERR_LIBTOM" and returns 75.
Status calcHash(Digest destination, std::span<const std::uint8_t> source);
