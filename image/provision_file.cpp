#include "image/provision_file.h"

#include "common/report.h"
#include "image/header_sealing.h"
#include "image/image_batch.h"
#include "image/image_reading.h"
#include "image/output_file.h"

#include <algorithm>
#include <array>
#include <span>
#include <string>
#include <vector>

using namespace layout;

namespace {

constexpr std::size_t kCopyBlockSize = 128 * 1024;

// Writes at offset, or in order when the output streams.
platform::Error write_at(const platform::File& out, std::optional<std::uint64_t> offset,
                         std::span<const std::uint8_t> bytes) {
    return offset ? platform::write_all_at(out, *offset, bytes) : platform::write_all(out, bytes);
}

std::optional<std::uint64_t> advanced(std::optional<std::uint64_t> offset, std::uint64_t by) {
    return offset ? std::optional<std::uint64_t>(*offset + by) : std::nullopt;
}

platform::Error write_zeros(const platform::File& out, std::optional<std::uint64_t> offset,
                            std::uint64_t count) {
    static constexpr std::array<std::uint8_t, kCopyBlockSize> zeros{};
    std::uint64_t written = 0;
    while (written < count) {
        const auto block =
            static_cast<std::size_t>(std::min<std::uint64_t>(count - written, zeros.size()));
        if (const platform::Error error =
                write_at(out, advanced(offset, written), std::span(zeros).first(block));
            error.failed()) {
            return error;
        }
        written += block;
    }
    return {};
}

int copy_by_blocks(const platform::File& in, std::uint64_t inOffset, const platform::File& out,
                   std::optional<std::uint64_t> outOffset, std::uint64_t count,
                   CopyFailure& failure) {
    std::vector<std::uint8_t> block(kCopyBlockSize);
    for (std::uint64_t done = 0; done < count;) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(count - done, block.size()));
        std::size_t got = 0;
        failure.error =
            platform::read_fully_at(in, inOffset + done, std::span(block).first(wanted), got);
        if (failure.error.failed() || got == 0) {
            failure.inInput = true;
            return -1;
        }
        failure.error = write_at(out, advanced(outOffset, done), std::span(block).first(got));
        if (failure.error.failed()) {
            return -1;
        }
        done += got;
    }
    return 0;
}

constexpr std::size_t kOpenBasesKept = 16;

// A short base leaves the rest of the header zero; a failed read is no short
// file (a directory opens, but does not read).
bool open_base(std::string_view path, BaseImage& base) {
    OpenedImage opened;
    platform::Error error;
    if (!open_image(path, ImageKinds::devices_too, opened, error)) {
        if (!error.failed() && opened.info.kind == platform::FileKind::stream) {
            print_diagnostic("cannot read " + std::string(path) +
                             ": a FIFO or socket is read only once, and is no image");
        }
        return false;
    }
    base.file = std::move(opened.file);
    base.identity = opened.info.identity;
    base.length = opened.length;
    std::size_t got = 0;
    return !platform::read_fully_at(base.file, 0, base.header, got).failed();
}

// The chain against the table at the base's own bdpOffset, where it can be read.
void check_base_chain(BaseImage& base) {
    std::array<std::uint8_t, kBdpTableSize> table{};
    std::size_t got = 0;
    if (platform::read_fully_at(base.file, read_bdp_placement(base.header).bdpOffset, table, got)
            .failed() ||
        got != table.size()) {
        return;
    }
    base.chainChecked = true;
    base.unsealed = unsealed_digests(base.header, table);
}

void report_write_failure(std::string_view outputPath, std::string_view what, std::string_view path,
                          const platform::Error& error) {
    std::string text(what);
    text.append(" ");
    text.append(path);
    text.append(": ");
    text.append(error.failed() ? error.reason() : "it ended before the length it had when opened");
    print_diagnostic(text);
    print_line("Unable to write output fwb ", outputPath);
}

// The paths a run names, for its messages.
struct RunPaths {
    std::string_view base;
    std::string_view output;
};

bool copy_stretch(const BaseImage& base, const platform::File& out,
                  std::optional<std::uint64_t> outOffset, std::uint64_t from, std::uint64_t to,
                  const RunPaths& paths) {
    CopyFailure failure;
    if (copy(base.file, from, out, outOffset, to - from, failure) == 0) {
        return true;
    }
    if (failure.inInput) {
        report_write_failure(paths.output, "cannot read", paths.base, failure.error);
    } else {
        report_write_failure(paths.output, "cannot write", paths.output, failure.error);
    }
    return false;
}

bool write_bytes(const platform::File& out, std::optional<std::uint64_t> offset,
                 std::span<const std::uint8_t> bytes, const RunPaths& paths) {
    const platform::Error error = write_at(out, offset, bytes);
    if (error.failed()) {
        report_write_failure(paths.output, "cannot write", paths.output, error);
    }
    return !error.failed();
}

bool write_zeros(const platform::File& out, std::optional<std::uint64_t> offset,
                 std::uint64_t count, const RunPaths& paths) {
    const platform::Error error = write_zeros(out, offset, count);
    if (error.failed()) {
        report_write_failure(paths.output, "cannot write", paths.output, error);
    }
    return !error.failed();
}

// A stretch of the output at its offset, or next when the output streams.
bool write_stretch(const BaseImage& base, const OutputStretch& stretch, const platform::File& out,
                   std::optional<std::uint64_t> offset, const RunPaths& paths) {
    switch (stretch.source) {
    case OutputStretch::Source::base:
        return copy_stretch(base, out, offset, stretch.offset, stretch.offset + stretch.length,
                            paths);
    case OutputStretch::Source::parts:
        return write_bytes(out, offset, stretch.bytes, paths);
    case OutputStretch::Source::zeros:
        break;
    }
    return write_zeros(out, offset, stretch.length, paths);
}

// The whole base in one copy (sharing extents where the filesystem can), then
// the sealed header and the region over it.
bool write_in_place(const BaseImage& base, const ProvisionedParts& parts, const platform::File& out,
                    const RunPaths& paths) {
    if (!copy_stretch(base, out, 0, 0, base.length, paths)) {
        return false;
    }
    for (const OutputStretch& stretch : output_stretches(parts, base.length)) {
        if (stretch.source != OutputStretch::Source::base &&
            !write_stretch(base, stretch, out, stretch.offset, paths)) {
            return false;
        }
    }
    return true;
}

// An output that cannot seek takes the stretches in file order.
bool write_in_order(const BaseImage& base, const ProvisionedParts& parts, const platform::File& out,
                    const RunPaths& paths) {
    for (const OutputStretch& stretch : output_stretches(parts, base.length)) {
        if (!write_stretch(base, stretch, out, std::nullopt, paths)) {
            return false;
        }
    }
    return true;
}

// Refuses an output that is another file of the run, with the reason on standard error.
bool is_other_file(std::string_view outputPath, std::optional<platform::FileIdentity> output,
                   std::span<const RunFile> others) {
    for (const RunFile& other : others) {
        if (output == other.identity) {
            print_diagnostic("cannot write to " + std::string(outputPath) + ": it is " +
                             std::string(other.role));
            return true;
        }
    }
    return false;
}

bool names_base(std::string_view outputPath, const BaseImage& base) {
    platform::FileInfo info;
    return !platform::info_of_path(outputPath, info).failed() && info.identity == base.identity;
}

// The output's bytes in file order, as write_in_order writes them, into hash.
bool hash_output_bytes(const BaseImage& base, const ProvisionedParts& parts, HashStream& hash,
                       platform::Error& error) {
    static constexpr std::array<std::uint8_t, kCopyBlockSize> zeros{};
    for (const OutputStretch& stretch : output_stretches(parts, base.length)) {
        if (stretch.source == OutputStretch::Source::base &&
            !hash_file_range(hash, base.file, stretch.offset, stretch.length, error)) {
            return false;
        }
        if (stretch.source == OutputStretch::Source::parts) {
            hash.add(stretch.bytes);
        }
        for (std::uint64_t added = 0;
             stretch.source == OutputStretch::Source::zeros && added < stretch.length;) {
            const auto block = static_cast<std::size_t>(
                std::min<std::uint64_t>(stretch.length - added, zeros.size()));
            hash.add(std::span(zeros).first(block));
            added += block;
        }
    }
    return true;
}

bool hash_base(BaseImage& base, platform::Error& error) {
    if (base.digest) {
        return true;
    }
    HashStream hash;
    DigestValue digest{};
    if (!hash_file_range(hash, base.file, 0, base.length, error) ||
        hash.finish(digest) != PROVKIT_OK) {
        return false;
    }
    base.digest = digest;
    return true;
}

// The base's digest, and the output's, each computed once however many devices ask.
Status take_digests(BaseImage& base, BaseImage::Sealed& sealed, const RunPaths& paths,
                    bool withBase, bool withOutput, ProvisionOutcome& outcome) {
    platform::Error error;
    DigestValue digest{};
    if (withOutput && !sealed.outputDigest) {
        if (!output_digest(base, sealed.parts, digest, error)) {
            report_write_failure(paths.output, "cannot read", paths.base, error);
            return PROVKIT_ERR_FILE;
        }
        sealed.outputDigest = digest;
    }
    if (withBase && !hash_base(base, error)) {
        report_write_failure(paths.output, "cannot read", paths.base, error);
        return PROVKIT_ERR_FILE;
    }
    if (withOutput) {
        outcome.outputDigest = sealed.outputDigest;
    }
    return PROVKIT_OK;
}

} // namespace

bool output_digest(const BaseImage& base, const ProvisionedParts& parts, DigestValue& digest,
                   platform::Error& error) {
    HashStream hash;
    return hash_output_bytes(base, parts, hash, error) && hash.finish(digest) == PROVKIT_OK;
}

int copy(const platform::File& in, std::uint64_t inOffset, const platform::File& out,
         std::optional<std::uint64_t> outOffset, std::uint64_t count, CopyFailure& failure) {
    failure = {};
    if (count == 0) {
        return 0;
    }
    if (outOffset) {
        std::uint64_t copied = 0;
        const platform::Error error =
            platform::kernel_copy(in, inOffset, out, *outOffset, count, copied);
        if (!error.failed()) {
            failure.inInput = copied < count;
            return copied == count ? 0 : -1;
        }
        if (!error.unsupported()) {
            failure.error = error;
            return -1;
        }
    }
    // Not every pair of files allows the kernel copy; moving blocks always works.
    return copy_by_blocks(in, inOffset, out, outOffset, count, failure);
}

std::shared_ptr<BaseImage> BaseImages::open(std::string_view path) {
    if (const auto found = opened_.find(path); found != opened_.end()) {
        return found->second;
    }
    if (opened_.size() >= kOpenBasesKept) {
        opened_.clear();
    }
    auto base = std::make_shared<BaseImage>();
    if (!open_base(path, *base)) {
        return nullptr;
    }
    check_base_chain(*base);
    opened_.emplace(std::string(path), base);
    return base;
}

void print_unable_to_write(std::string_view outputPath) {
    print_line("Unable to write output fwb ", outputPath);
}

// Base images may come unsealed from a build: the run goes on, but says so.
void warn_if_base_unsealed(BaseImage& base, std::string_view basePath) {
    if (base.unsealed.empty() || base.warned) {
        return;
    }
    base.warned = true;
    std::string text = "warning: base image ";
    text.append(basePath);
    text.append(" does not verify: ");
    for (std::size_t i = 0; i < base.unsealed.size(); ++i) {
        text.append(i == 0 ? "" : ", ");
        text.append(base.unsealed[i]);
    }
    text.append(base.unsealed.size() == 1 ? " differs" : " differ");
    print_diagnostic(text);
}

namespace {

bool same_board_data(const BoardData& a, const BoardData& b) {
    const auto blob = [](const auto& bytes, std::uint32_t length) {
        return std::span(bytes).first(std::min<std::size_t>(length, bytes.size()));
    };
    return a.exprom == b.exprom && a.macBdpLen == b.macBdpLen && a.phyBdpLen == b.phyBdpLen &&
           std::ranges::equal(blob(a.macBdp, a.macBdpLen), blob(b.macBdp, b.macBdpLen)) &&
           std::ranges::equal(blob(a.phyBdp, a.phyBdpLen), blob(b.phyBdp, b.phyBdpLen));
}

// The base sealed for boardData, remembered for the next device of the entry.
BaseImage::Sealed& sealed_for(BaseImage& base, const BoardData& boardData) {
    if (base.lastSealed == nullptr || !same_board_data(base.lastSealed->boardData, boardData)) {
        auto sealed = std::make_unique<BaseImage::Sealed>();
        sealed->boardData = boardData;
        sealed->fit = provision_parts(boardData, base.header, base.length, sealed->parts);
        base.lastSealed = std::move(sealed);
    }
    return *base.lastSealed;
}

// The output's refusals that come before it is opened.
bool output_refused(const BaseImage& base, std::string_view outputPath,
                    const ProvisionOptions& options) {
    if (options.chosenName) {
        return false; // a name the tool chose is never followed: checked once open
    }
    if (names_base(outputPath, base)) {
        print_line("Output fwb is the input fwb ", outputPath);
        return true;
    }
    return false;
}

bool dry_run_output_fails(std::string_view outputPath, const ProvisionOptions& options) {
    if (options.chosenName) {
        return options.directory != nullptr &&
               !OutputFile::check_in(*options.directory, options.name);
    }
    return is_other_file(outputPath, platform::identity_of(outputPath), options.otherFiles) ||
           !OutputFile::check(outputPath);
}

std::unique_ptr<OutputFile> open_output(std::string_view outputPath,
                                        const ProvisionOptions& options) {
    auto output = std::make_unique<OutputFile>();
    const bool opened = options.chosenName ? output->open_in(*options.directory, options.name)
                                           : output->open(outputPath);
    return opened ? std::move(output) : nullptr;
}

} // namespace

Status provision_device(const BoardData& boardData, std::string_view basePath,
                        std::string_view outputPath, BaseImages& bases,
                        const ProvisionOptions& options, ProvisionOutcome& outcome) {
    print_number_line("macBdpLen     :", boardData.macBdpLen);
    print_number_line("phyBdpLen     :", boardData.phyBdpLen);
    outcome.base = bases.open(basePath);
    if (outcome.base == nullptr) {
        print_line("Input fwb not present ", basePath);
        return PROVKIT_ERR_FILE;
    }
    BaseImage& base = *outcome.base;
    BaseImage::Sealed& sealed = sealed_for(base, boardData);
    switch (sealed.fit) {
    case RegionFit::too_small:
        print_text("PHY and MAC BDP length Check\n ");
        return PROVKIT_ERR_DATA;
    case RegionFit::outside_image:
        print_line("Invalid BDP region in input fwb ", basePath);
        return PROVKIT_ERR_DATA;
    case RegionFit::fits:
        break;
    }
    if (output_refused(base, outputPath, options)) {
        return PROVKIT_ERR_FILE;
    }
    const RunPaths paths{basePath, outputPath};
    outcome.outputLength = base.length;
    if (options.dryRun) {
        if (dry_run_output_fails(outputPath, options)) {
            return PROVKIT_ERR_FILE;
        }
        return take_digests(base, sealed, paths, options.digests, true, outcome);
    }
    std::unique_ptr<OutputFile> output = open_output(outputPath, options);
    if (output == nullptr) {
        return PROVKIT_ERR_FILE;
    }
    if (output->existing() == base.identity) {
        print_line("Output fwb is the input fwb ", outputPath);
        return PROVKIT_ERR_FILE;
    }
    if (is_other_file(outputPath, output->existing(), options.otherFiles)) {
        return PROVKIT_ERR_FILE;
    }
    const bool written = output->streams()
                             ? write_in_order(base, sealed.parts, output->file(), paths)
                             : write_in_place(base, sealed.parts, output->file(), paths);
    if (!written) {
        return PROVKIT_ERR_FILE;
    }
    // The disk takes the image while the rest of the run goes on.
    (void)platform::start_writeback(output->file());
    if (options.digests) {
        if (const Status digests = take_digests(base, sealed, paths, true, true, outcome);
            digests != PROVKIT_OK) {
            return digests;
        }
    }
    if (options.batch != nullptr && !output->streams()) {
        outcome.batchSlot = options.batch->add(std::move(output));
        return PROVKIT_OK;
    }
    if (!output->commit()) {
        print_unable_to_write(outputPath);
        return PROVKIT_ERR_FILE;
    }
    return PROVKIT_OK;
}

Status provisionFile(const BoardData& boardData, std::string_view basePath,
                     std::string_view outputPath) {
    BaseImages bases;
    ProvisionOutcome outcome;
    const Status status = provision_device(boardData, basePath, outputPath, bases, {}, outcome);
    if (status == PROVKIT_OK) {
        warn_if_base_unsealed(*outcome.base, basePath);
    }
    return status;
}
