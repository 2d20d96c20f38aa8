#include "image/provision_file.h"

#include "common/file.h"
#include "common/report.h"
#include "image/header_sealing.h"
#include "image/output_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <span>
#include <sys/stat.h>
#include <unistd.h>

using namespace layout;

namespace {

constexpr std::size_t kKernelCopyRequest = std::size_t{1} << 30;
constexpr std::size_t kCopyBlockSize = 128 * 1024;

bool write_all(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

bool write_zeros(int fd, std::uint64_t count) {
    static constexpr std::array<std::uint8_t, kCopyBlockSize> zeros{};
    while (count > 0) {
        const std::size_t block =
            static_cast<std::size_t>(std::min<std::uint64_t>(count, zeros.size()));
        if (!write_all(fd, std::span(zeros).first(block))) {
            return false;
        }
        count -= block;
    }
    return true;
}

// Reads until buffer is full or the input ends; the count read, or -1 on error.
ssize_t read_up_to(int fd, std::span<std::uint8_t> buffer) {
    std::size_t total = 0;
    while (total < buffer.size()) {
        const ssize_t got = ::read(fd, buffer.data() + total, buffer.size() - total);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        total += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(total);
}

int copy_by_blocks(int in, int out, bool to_end, std::uint64_t remaining) {
    std::array<std::uint8_t, kCopyBlockSize> block;
    while (to_end || remaining > 0) {
        const std::size_t wanted =
            to_end ? block.size()
                   : static_cast<std::size_t>(std::min<std::uint64_t>(remaining, block.size()));
        const ssize_t got = read_up_to(in, std::span(block).first(wanted));
        if (got < 0) {
            return -1;
        }
        const auto arrived = static_cast<std::size_t>(got);
        if (!write_all(out, std::span(block).first(arrived))) {
            return -1;
        }
        if (arrived < wanted) {
            return to_end ? 0 : -1;
        }
        remaining -= to_end ? 0 : arrived;
    }
    return 0;
}

// A short base image leaves the rest of the header zero; a failed read is no
// short file (a directory opens, but does not read).
bool read_base_header(const UniqueFd& base, struct stat& status, ImageHeader& header) {
    return base.valid() && ::fstat(base.get(), &status) == 0 && read_up_to(base.get(), header) >= 0;
}

bool blobs_fit_record(const BoardData& boardData) {
    return boardData.phyBdpLen <= kBlobCapacity && boardData.macBdpLen <= kBlobCapacity;
}

bool region_holds_board_data(const BdpPlacement& placement, const BoardData& boardData) {
    return blobs_fit_record(boardData) &&
           placement.bdpSize >= bdp_bytes_needed(boardData.phyBdpLen, boardData.macBdpLen);
}

bool write_bdp_region(int out, const BdpRegion& region, std::uint32_t bdpSize) {
    const std::uint64_t dataBytes = bdpSize - kBdpTableSize;
    const std::size_t built =
        static_cast<std::size_t>(std::min<std::uint64_t>(dataBytes, region.data.size()));
    return write_all(out, region.table) && write_all(out, std::span(region.data).first(built)) &&
           write_zeros(out, dataBytes - built);
}

bool write_image(int base, int out, const ImageHeader& header, const BdpRegion& region,
                 const BdpPlacement& placement) {
    const std::uint64_t gap = placement.bdpOffset - kHeaderSize;
    const auto afterRegion =
        static_cast<off_t>(std::uint64_t{placement.bdpOffset} + placement.bdpSize);
    return write_all(out, header) && (gap == 0 || copy(base, out, gap) == 0) &&
           write_bdp_region(out, region, placement.bdpSize) &&
           ::lseek(base, afterRegion, SEEK_SET) == afterRegion && copy(base, out, 0) == 0;
}

} // namespace

int copy(int in, int out, std::uint64_t count) {
    const bool to_end = count == 0;
    std::uint64_t remaining = count;
    while (to_end || remaining > 0) {
        const std::size_t request =
            to_end
                ? kKernelCopyRequest
                : static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kKernelCopyRequest));
        const ssize_t moved = ::copy_file_range(in, nullptr, out, nullptr, request, 0);
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        if (moved < 0) {
            // Not every pair of files supports the kernel copy; moving blocks always works.
            return copy_by_blocks(in, out, to_end, remaining);
        }
        if (moved == 0) {
            return to_end ? 0 : -1;
        }
        remaining -= to_end ? 0 : static_cast<std::uint64_t>(moved);
    }
    return 0;
}

Status provisionFile(const BoardData& boardData, std::string_view basePath,
                     std::string_view outputPath) {
    print_number_line("macBdpLen     :", boardData.macBdpLen);
    print_number_line("phyBdpLen     :", boardData.phyBdpLen);
    const UniqueFd base = open_for_reading(basePath);
    struct stat baseStatus {};
    ImageHeader header{};
    if (!read_base_header(base, baseStatus, header)) {
        print_line("Input fwb not present ", basePath);
        return PROVKIT_ERR_FILE;
    }
    const BdpPlacement placement = read_bdp_placement(header);
    if (!region_holds_board_data(placement, boardData)) {
        print_text("PHY and MAC BDP length Check\n ");
        return PROVKIT_ERR_DATA;
    }
    BdpRegion region;
    seal_header(boardData, header, region);
    if (!region_inside_image(placement, static_cast<std::uint64_t>(baseStatus.st_size))) {
        print_line("Invalid BDP region in input fwb ", basePath);
        return PROVKIT_ERR_DATA;
    }
    if (names_file(outputPath, baseStatus.st_dev, baseStatus.st_ino)) {
        print_line("Output fwb is the input fwb ", outputPath);
        return PROVKIT_ERR_FILE;
    }
    OutputFile output;
    if (!output.create(outputPath)) {
        return PROVKIT_ERR_FILE;
    }
    if (!write_image(base.get(), output.fd(), header, region, placement) || !output.commit()) {
        print_line("Unable to write output fwb ", outputPath);
        return PROVKIT_ERR_FILE;
    }
    return PROVKIT_OK;
}
