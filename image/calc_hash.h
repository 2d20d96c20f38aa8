#pragma once

#include "common/failure.h"
#include "image/layout.h"
#include "platform/platform.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>

using Digest = std::span<std::uint8_t, layout::kDigestSize>;
using DigestValue = std::array<std::uint8_t, layout::kDigestSize>;

// SHA-256 of source into destination, which is written only on success; fails
// with 75 (digest_library) when the library reports an error.
Result<> calcHash(Digest destination, std::span<const std::uint8_t> source);

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
    // The digest of everything added; 75 (digest_library) when the library
    // failed on the way.
    Result<DigestValue> finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
    bool failed_ = false;
};

// Adds count bytes of file from offset to hash, block by block. Fails with 67
// (base_unread, no path) when the file ends before count is met (reason clear)
// or a read fails.
Result<> hash_file_range(HashStream& hash, const platform::File& file, std::uint64_t offset,
                         std::uint64_t count);

// The SHA-256 of the first length bytes of file.
Result<DigestValue> file_sha256(const platform::File& file, std::uint64_t length);
