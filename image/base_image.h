#pragma once

#include "common/board_data.h"
#include "common/failure.h"
#include "image/calc_hash.h"
#include "image/header_sealing.h"
#include "platform/platform.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A base image as a run opened it: read to exactly the length it had then.
struct BaseImage {
    platform::File file;
    platform::FileIdentity identity;
    std::uint64_t length = 0;
    ImageHeader header{}; // a short file's missing bytes are zero
    // The digests of its own chain that differ from its bytes (none when they
    // hold); nothing when its table could not be read to check them.
    std::optional<std::vector<std::string_view>> unsealed;
    std::optional<DigestValue> digest; // of its bytes, once a run asked for it

    // What it was last sealed for: the devices of one entry get the same image,
    // sealed and hashed once.
    struct Sealed {
        BoardData boardData;
        ProvisionedParts parts;
        RegionFit fit = RegionFit::fits;
        std::optional<DigestValue> outputDigest;
    };
    std::unique_ptr<Sealed> lastSealed;
};

// Opens a base image: a regular file, or a device read to where seeking ends.
// Fails with 67: base_is_stream for a FIFO or socket (refused without waiting
// for its writer), base_unopenable for one that is missing, a directory or
// cannot be read.
Result<std::shared_ptr<BaseImage>> open_base_image(std::string_view path);

// The digests of an image's chain (header, second area, table, in that order)
// that differ from what header and the table at its bdpOffset give; nothing
// when the table cannot be read whole.
std::optional<std::vector<std::string_view>> chain_differences(const platform::File& file,
                                                               const ImageHeader& header);

// The SHA-256 of the base's bytes, computed once; base_unread when it ends early.
Result<DigestValue> base_digest(BaseImage& base);

// The base images of a run, each opened, read and checked once however many
// devices name it. A few are kept open at a time.
class BaseImages {
  public:
    explicit BaseImages(std::size_t kept = kMostKept) : kept_(kept) {}
    Result<std::shared_ptr<BaseImage>> open(std::string_view path);

    static constexpr std::size_t kMostKept = 16;

  private:
    std::size_t kept_;
    std::map<std::string, std::shared_ptr<BaseImage>, std::less<>> opened_;
};
