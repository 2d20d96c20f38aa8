#include <array>
#include <cstddef>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <tomcrypt.h>
#include <vector>

namespace {

constexpr std::size_t digestSize = 32;

struct Vector {
    const char* name;
    std::string chunk; // handed to sha256_process repeat times
    std::size_t repeat;
    const char* digest;
};

const std::vector<Vector> vectors = {
    {"empty", "", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    // 1000-byte calls, so block boundaries fall inside calls as well as between them.
    {"a million a", std::string(1000, 'a'), 1000,
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

std::string to_hex(const std::array<unsigned char, digestSize>& digest) {
    std::string hex;
    for (unsigned char byte : digest) {
        std::array<char, 3> pair{};
        std::snprintf(pair.data(), pair.size(), "%02x", byte);
        hex += pair.data();
    }
    return hex;
}

TEST(TomcryptSha256, DigestsMatchTheStandardVectors) {
    for (const Vector& vector : vectors) {
        SCOPED_TRACE(vector.name);
        hash_state state;
        ASSERT_EQ(sha256_init(&state), CRYPT_OK);
        const auto* bytes = reinterpret_cast<const unsigned char*>(vector.chunk.data());
        for (std::size_t i = 0; i < vector.repeat; ++i) {
            ASSERT_EQ(
                sha256_process(&state, bytes, static_cast<unsigned long>(vector.chunk.size())),
                CRYPT_OK);
        }
        std::array<unsigned char, digestSize> digest{};
        ASSERT_EQ(sha256_done(&state, digest.data()), CRYPT_OK);
        EXPECT_EQ(to_hex(digest), vector.digest);
    }
}

TEST(TomcryptSha256, DescriptorSelfTestPasses) {
    EXPECT_EQ(sha256_desc.test(), CRYPT_OK);
}

} // namespace
