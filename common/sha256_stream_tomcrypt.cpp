// The streamed SHA-256 where no faster library is at hand: LibTomCrypt's.
#include "common/sha256_stream.h"

#include <tomcrypt.h>

struct HashStream::State {
    hash_state state;
};

HashStream::HashStream() : state_(std::make_unique<State>()) {
    failed_ = sha256_init(&state_->state) != CRYPT_OK;
}

HashStream::~HashStream() = default;

void HashStream::add(std::span<const std::uint8_t> bytes) {
    if (!failed_ && !bytes.empty()) {
        failed_ = sha256_process(&state_->state, bytes.data(),
                                 static_cast<unsigned long>(bytes.size())) != CRYPT_OK;
    }
}

Result<DigestValue> HashStream::finish() {
    DigestValue digest{};
    if (failed_ || sha256_done(&state_->state, digest.data()) != CRYPT_OK) {
        return failure_of(PROVKIT_ERR_LIBTOM, Check::digest_library);
    }
    return digest;
}
