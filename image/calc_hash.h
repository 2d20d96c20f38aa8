#pragma once

#include "common/status.h"
#include "image/layout.h"
#include "platform/platform.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>

using Digest = std::span<std::uint8_t, layout::kDigestSize>;
using DigestValue = std::array<std::uint8_t, layout::kDigestSize>;

// SHA-256 of source into destination, which is written only on success.
// On a library failure prints "calcHash::PROVKIT_ERR_LIBTOM" and returns 75.
Status calcHash(Digest destination, std::span<const std::uint8_t> source);

// SHA-256 over bytes that arrive in pieces, for whole files hashed block by
// block: a batch hashes every image it writes, so this uses the processor's SHA
// instructions where the system's library has them (sha256_stream_*.cpp).
class HashStream {
  public:
    HashStream();
    ~HashStream();
    HashStream(const HashStream&) = delete;
    HashStream& operator=(const HashStream&) = delete;

    void add(std::span<const std::uint8_t> bytes);
    // The digest of everything added; 75 when the library failed on the way.
    Status finish(DigestValue& digest);

  private:
    struct State;
    std::unique_ptr<State> state_;
    bool failed_ = false;
};

// Adds count bytes of file from offset to hash, block by block. False when the
// file ends before count is met (error then clear) or a read fails.
bool hash_file_range(HashStream& hash, const platform::File& file, std::uint64_t offset,
                     std::uint64_t count, platform::Error& error);
