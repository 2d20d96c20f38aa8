// The streamed SHA-256 through OpenSSL's libcrypto, which uses the processor's
// SHA instructions where it has them: ten times LibTomCrypt's portable code.
#include "common/sha256_stream.h"

#include <openssl/evp.h>

struct HashStream::State {
    EVP_MD_CTX* context = nullptr;
    ~State() { EVP_MD_CTX_free(context); }
};

HashStream::HashStream() : state_(std::make_unique<State>()) {
    state_->context = EVP_MD_CTX_new();
    failed_ = state_->context == nullptr ||
              EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1;
}

HashStream::~HashStream() = default;

void HashStream::add(std::span<const std::uint8_t> bytes) {
    if (!failed_ && !bytes.empty()) {
        failed_ = EVP_DigestUpdate(state_->context, bytes.data(), bytes.size()) != 1;
    }
}

Result<DigestValue> HashStream::finish() {
    DigestValue digest{};
    unsigned int length = 0;
    if (failed_ || EVP_DigestFinal_ex(state_->context, digest.data(), &length) != 1 ||
        length != digest.size()) {
        return failure_of(PROVKIT_ERR_LIBTOM, Check::digest_library);
    }
    return digest;
}
