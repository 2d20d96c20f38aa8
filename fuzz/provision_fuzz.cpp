// Header sealing and provisionFile on an arbitrary base image with an arbitrary
// record. On success the output has the input's length, differs from it only in
// the sealed header fields and the BDP region, verifies, and has the digest a
// dry run foresaw; a dry run agrees on the status; on failure no file is left.
// The base image is never changed.
//
// Input: exprom (1 byte), PHY and MAC lengths (2 bytes each, taken modulo 1025),
// a placement flag (1 byte) with, when its low bit is set, the gap after the
// header (2 bytes), the spare region bytes (1 byte) and the spare bytes after the
// region (1 byte), which place a region that fits; then the blobs' bytes, then the image.
#include "fuzz/harness.h"
#include "image/bytes.h"
#include "image/calc_hash.h"
#include "image/image_inspection.h"
#include "image/layout.h"
#include "image/provision_file.h"

#include <algorithm>

namespace {

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint32_t take(std::size_t count) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < count; ++i) {
            value |= std::uint32_t{at_ < size_ ? data_[at_] : std::uint8_t{0}} << (8 * i);
            ++at_;
        }
        return value;
    }
    std::string rest() const {
        return at_ < size_ ? std::string(fuzz::text_of(data_ + at_, size_ - at_)) : "";
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

struct Placement {
    bool forced = false;
    std::uint32_t gap = 0;
    std::uint32_t spareRegion = 0;
    std::uint32_t spareAfter = 0;
};

bool sealed_or_region(std::size_t at, const BdpPlacement& placement, bool expromCleared) {
    using namespace layout;
    const auto in = [at](std::size_t offset, std::size_t length) {
        return at >= offset && at < offset + length;
    };
    return in(kHeaderDigestOffset, kDigestSize) || in(kSecondAreaDigestOffset, kDigestSize) ||
           in(kTableDigestOffset, kDigestSize) ||
           (expromCleared && in(kExpromDescriptorOffset, kExpromDescriptorSize)) ||
           (at >= placement.bdpOffset && at - placement.bdpOffset < placement.bdpSize);
}

void place_region(std::string& image, const BoardData& board, const Placement& placement) {
    const std::size_t offset = layout::kHeaderSize + placement.gap;
    const std::size_t size =
        layout::bdp_bytes_needed(board.phyBdpLen, board.macBdpLen) + placement.spareRegion;
    image.resize(std::max(image.size(), offset + size + placement.spareAfter), '\0');
    std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(image.data()), image.size());
    store_le32(bytes, layout::kBdpOffsetOffset, static_cast<std::uint32_t>(offset));
    store_le32(bytes, layout::kBdpSizeOffset, static_cast<std::uint32_t>(size));
}

void check_output(const std::string& base, const std::string& out, const BoardData& board) {
    FUZZ_CHECK(out.size() == base.size());
    const ImageInspection inspection = inspect_image(fuzz::bytes_of(out));
    FUZZ_CHECK(inspection.verified());
    FUZZ_CHECK(inspection.entries.size() == 2 && inspection.entries[0].length == board.phyBdpLen &&
               inspection.entries[1].length == board.macBdpLen);
    for (std::size_t at = 0; at < base.size(); ++at) {
        FUZZ_CHECK(out[at] == base[at] ||
                   sealed_or_region(at, inspection.placement, board.exprom == 0));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    BoardData board;
    board.exprom = input.take(1) & 1;
    board.phyBdpLen = static_cast<std::uint32_t>(input.take(2) % (kBlobCapacity + 1));
    board.macBdpLen = static_cast<std::uint32_t>(input.take(2) % (kBlobCapacity + 1));
    Placement placement;
    placement.forced = (input.take(1) & 1) != 0;
    placement.gap = input.take(2);
    placement.spareRegion = input.take(1);
    placement.spareAfter = input.take(1);
    for (std::size_t i = 0; i < board.phyBdpLen; ++i) {
        board.phyBdp[i] = static_cast<std::uint8_t>(input.take(1));
    }
    for (std::size_t i = 0; i < board.macBdpLen; ++i) {
        board.macBdp[i] = static_cast<std::uint8_t>(input.take(1));
    }
    std::string base = input.rest();
    if (placement.forced) {
        place_region(base, board, placement);
    }
    const std::string basePath = fuzz::write_scratch_file("base.fwb", base);
    const std::filesystem::path outPath = fuzz::scratch() / "out.fwb";
    std::filesystem::remove(outPath);

    BaseImages bases;
    ProvisionOptions dryRun;
    dryRun.dryRun = true;
    const ProvisionOutcome foreseen =
        provisionFile(board, basePath, fuzz::utf8_of(outPath), bases, dryRun);
    const Status dryStatus = foreseen.failure.status;
    FUZZ_CHECK(!std::filesystem::exists(outPath));
    BaseImages fresh;
    const Status status =
        provisionFile(board, basePath, fuzz::utf8_of(outPath), fresh).failure.status;
    FUZZ_CHECK(status == PROVKIT_OK || status == PROVKIT_ERR_DATA);
    FUZZ_CHECK(dryStatus == status);
    FUZZ_CHECK(fuzz::read_file(basePath) == base);
    FUZZ_CHECK(std::filesystem::exists(outPath) == (status == PROVKIT_OK));
    FUZZ_CHECK(std::distance(std::filesystem::directory_iterator(fuzz::scratch()), {}) ==
               1 + (status == PROVKIT_OK));
    if (status == PROVKIT_OK) {
        const std::string out = fuzz::read_file(outPath);
        check_output(base, out, board);
        DigestValue digest{};
        FUZZ_CHECK(calcHash(digest, fuzz::bytes_of(out)));
        FUZZ_CHECK(foreseen.outputDigest == digest);
    }
    return 0;
}
