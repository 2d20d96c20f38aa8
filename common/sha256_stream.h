#pragma once

#include "common/failure.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>

using DigestValue = std::array<std::uint8_t, 32>;

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
