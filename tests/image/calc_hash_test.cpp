#include "image/calc_hash.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

TEST(CalcHash, IsPlainSha256OnTheStandardVectors) {
    const std::vector<std::pair<std::string, std::string>> vectors = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1'000'000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [message, digest] : vectors) {
        EXPECT_EQ(sha256(message), hex_to_bytes(digest)) << message.size() << " bytes";
    }
}

// A file hashed in blocks from an offset gives the one-piece digest of those
// bytes, and a file that ends before the count is a failure, not a digest.
TEST(HashFileRange, MatchesTheOnePieceDigestAndFailsOnAShortFile) {
    TempDir dir;
    std::string bytes(300'001, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7 + (i >> 11));
    }
    write_file(dir / "file", bytes);
    platform::File file;
    ASSERT_FALSE(platform::open_for_reading((dir / "file").string(), file).failed());
    const std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges = {
        {0, 0}, {0, 300'001}, {5, 131'072}, {131'071, 131'073}, {299'000, 1'001}};
    for (const auto& [offset, count] : ranges) {
        HashStream hash;
        ASSERT_TRUE(hash_file_range(hash, file, offset, count)) << offset;
        const Result<DigestValue> digest = hash.finish();
        ASSERT_TRUE(digest);
        EXPECT_EQ(std::string(digest->begin(), digest->end()), sha256(bytes.substr(offset, count)))
            << offset << " + " << count;
    }
    HashStream past;
    const Result<> shortFile = hash_file_range(past, file, 299'000, 1'002);
    ASSERT_FALSE(shortFile);
    EXPECT_EQ(shortFile.error().check, Check::base_unread);
    EXPECT_FALSE(shortFile.error().reason.failed());
}
