// make_example_image OUTPUT SIZE BDP_OFFSET BDP_SIZE [SEED]
// Writes a synthetic base image: pseudo-random filler from SEED, a header that
// places the BDP region, an empty but sealed BDP region and a valid digest chain.
#include "common/board_data.h"
#include "image/bytes.h"
#include "image/header_sealing.h"
#include "image/layout.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::optional<std::uint64_t> parse_number(std::string_view text) {
    std::uint64_t value = 0;
    const int base = text.starts_with("0x") ? 16 : 10;
    if (base == 16) {
        text.remove_prefix(2);
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// xorshift64: reproducible, opaque-looking filler.
class Filler {
  public:
    explicit Filler(std::uint64_t seed) : state_(seed | 1) {}
    void fill(std::span<std::uint8_t> bytes) {
        for (std::uint8_t& byte : bytes) {
            state_ ^= state_ << 13;
            state_ ^= state_ >> 7;
            state_ ^= state_ << 17;
            byte = static_cast<std::uint8_t>(state_ >> 56);
        }
    }

  private:
    std::uint64_t state_;
};

int usage() {
    std::puts("Usage: make_example_image OUTPUT SIZE BDP_OFFSET BDP_SIZE [SEED]");
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5 || argc > 6) {
        return usage();
    }
    const auto size = parse_number(argv[2]);
    const auto bdpOffset = parse_number(argv[3]);
    const auto bdpSize = parse_number(argv[4]);
    const auto seed = argc == 6 ? parse_number(argv[5]) : std::optional<std::uint64_t>{1};
    if (!size || !bdpOffset || !bdpSize || !seed || *bdpOffset < layout::kHeaderSize ||
        *bdpSize < layout::kBdpTableSize || *bdpOffset + *bdpSize > *size ||
        *bdpOffset > UINT32_MAX || *bdpSize > UINT32_MAX) {
        return usage();
    }
    Filler filler(*seed);
    ImageHeader header;
    filler.fill(header);
    store_le32(header, layout::kBdpOffsetOffset, static_cast<std::uint32_t>(*bdpOffset));
    store_le32(header, layout::kBdpSizeOffset, static_cast<std::uint32_t>(*bdpSize));
    BoardData empty;
    empty.exprom = 1;
    BdpRegion region;
    seal_header(empty, header, region);

    const std::unique_ptr<std::FILE, FileCloser> out(std::fopen(argv[1], "wb"));
    if (!out) {
        std::printf("Cannot create %s\n", argv[1]);
        return 67;
    }
    std::vector<std::uint8_t> block(1 << 20);
    std::fwrite(header.data(), 1, header.size(), out.get());
    std::uint64_t at = layout::kHeaderSize;
    while (at < *size) {
        const std::uint64_t end = std::min<std::uint64_t>(*size, at + block.size());
        const std::span<std::uint8_t> chunk =
            std::span(block).first(static_cast<std::size_t>(end - at));
        filler.fill(chunk);
        // The region holds the empty table the header's digest covers, then zeros.
        for (std::uint64_t offset = at; offset < end; ++offset) {
            if (offset >= *bdpOffset && offset < *bdpOffset + *bdpSize) {
                const std::uint64_t inRegion = offset - *bdpOffset;
                chunk[offset - at] = inRegion < region.table.size() ? region.table[inRegion] : 0;
            }
        }
        std::fwrite(chunk.data(), 1, chunk.size(), out.get());
        at = end;
    }
    return std::fflush(out.get()) == 0 && std::ferror(out.get()) == 0 ? 0 : 67;
}
