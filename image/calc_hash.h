#pragma once

#include "common/failure.h"
#include "common/sha256_stream.h"
#include "image/layout.h"
#include "platform/platform.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <tuple>

using Digest = std::span<std::uint8_t, layout::kDigestSize>;
static_assert(layout::kDigestSize == std::tuple_size_v<DigestValue>);

// SHA-256 of source into destination, which is written only on success; fails
// with 75 (digest_library) when the library reports an error.
Result<> calcHash(Digest destination, std::span<const std::uint8_t> source);

// Adds count bytes of file from offset to hash, block by block. Fails with 67
// (base_unread, no path) when the file ends before count is met (reason clear)
// or a read fails.
Result<> hash_file_range(HashStream& hash, const platform::File& file, std::uint64_t offset,
                         std::uint64_t count);

// The SHA-256 of the first length bytes of file.
Result<DigestValue> file_sha256(const platform::File& file, std::uint64_t length);
