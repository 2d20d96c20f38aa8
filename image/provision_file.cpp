#include "image/provision_file.h"

#include "image/copy.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

constexpr std::size_t kZeroBlock = 128 * 1024;

// Names the file a failure of the copier or a digest concerned: the base when it
// was read, else the output.
Failure naming(Failure failure, std::string_view basePath, std::string_view outputPath) {
    if (failure.path.empty()) {
        failure.path = std::string(failure.check == Check::base_unread ? basePath : outputPath);
    }
    return failure;
}

// A stretch of the output at its offset, or next when the output streams.
Result<> write_stretch(const BaseImage& base, const OutputStretch& stretch,
                       const platform::File& out, std::optional<std::uint64_t> offset) {
    switch (stretch.source) {
    case OutputStretch::Source::base:
        return copy(base.file, stretch.offset, out, offset, stretch.length);
    case OutputStretch::Source::parts:
        return write_bytes(out, offset, stretch.bytes);
    case OutputStretch::Source::zeros:
        break;
    }
    return write_zeros(out, offset, stretch.length);
}

// The whole base in one copy (sharing extents where the filesystem can), then
// the sealed header and the region over it; an output that cannot seek takes the
// stretches in file order.
Result<> write_image(const BaseImage& base, const ProvisionedParts& parts,
                     const OutputFile& output) {
    const bool inPlace = !output.streams();
    if (inPlace) {
        if (Result<> copied = copy(base.file, 0, output.file(), 0, base.length); !copied) {
            return copied;
        }
    }
    for (const OutputStretch& stretch : output_stretches(parts, base.length)) {
        if (inPlace && stretch.source == OutputStretch::Source::base) {
            continue;
        }
        const std::optional<std::uint64_t> at =
            inPlace ? std::optional<std::uint64_t>(stretch.offset) : std::nullopt;
        if (Result<> written = write_stretch(base, stretch, output.file(), at); !written) {
            return written;
        }
    }
    return {};
}

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

Failure region_failure(RegionFit fit, std::string_view basePath) {
    return fit == RegionFit::too_small
               ? failure_of(PROVKIT_ERR_DATA, Check::region_too_small, basePath)
               : failure_of(PROVKIT_ERR_DATA, Check::region_outside, basePath);
}

// An output that is another file of the run, under any name.
std::optional<Failure> other_file(std::optional<platform::FileIdentity> output,
                                  std::string_view outputPath, std::span<const RunFile> others) {
    for (const RunFile& other : others) {
        if (output == other.identity) {
            return failure_of(PROVKIT_ERR_FILE, Check::output_is_other_file, outputPath, {},
                              other.role);
        }
    }
    return std::nullopt;
}

// What a chosen name has now, itself: it is never followed.
std::optional<platform::FileIdentity> entry_at(const ImageTarget& target) {
    platform::FileInfo info;
    if (target.directory == nullptr ||
        platform::info_of_entry(*target.directory, target.name, info).failed()) {
        return std::nullopt;
    }
    return info.identity;
}

// The refusals of the output that need nothing opened: it may not be the base or,
// in a dry run, another file of the run (a real run looks at what it opened).
std::optional<Failure> output_refused(const BaseImage& base, const ImageTarget& target,
                                      const ProvisionOptions& options) {
    if (target.chosen && !options.dryRun) {
        return std::nullopt;
    }
    const std::optional<platform::FileIdentity> output =
        target.chosen ? entry_at(target) : platform::identity_of(target.path);
    if (output == base.identity) {
        return failure_of(PROVKIT_ERR_FILE, Check::output_is_base, target.path);
    }
    if (options.dryRun) {
        return other_file(output, target.path, options.otherFiles);
    }
    return std::nullopt;
}

Result<> check_output(const ImageTarget& target) {
    if (!target.chosen) {
        return OutputFile::check(target.path);
    }
    return target.directory == nullptr ? Result<>()
                                       : OutputFile::check_in(*target.directory, target.name);
}

Result<std::unique_ptr<OutputFile>> open_output(const BaseImage& base, const ImageTarget& target,
                                                const ProvisionOptions& options) {
    auto output = std::make_unique<OutputFile>();
    Result<> opened =
        target.chosen ? output->open_in(*target.directory, target.name) : output->open(target.path);
    if (!opened) {
        return opened.error();
    }
    if (output->existing() == base.identity) {
        return failure_of(PROVKIT_ERR_FILE, Check::output_is_base, target.path);
    }
    if (std::optional<Failure> other =
            other_file(output->existing(), target.path, options.otherFiles)) {
        return *other;
    }
    return output;
}

// The base's digest, and the output's, each computed once however many devices ask.
Result<> take_digests(BaseImage& base, BaseImage::Sealed& sealed, bool withBase,
                      ProvisionOutcome& outcome) {
    if (!sealed.outputDigest) {
        Result<DigestValue> digest = output_digest(base, sealed.parts);
        if (!digest) {
            return digest.error();
        }
        sealed.outputDigest = *digest;
    }
    if (withBase) {
        if (Result<DigestValue> digest = base_digest(base); !digest) {
            return digest.error();
        }
    }
    outcome.outputDigest = sealed.outputDigest;
    return {};
}

} // namespace

Result<DigestValue> output_digest(const BaseImage& base, const ProvisionedParts& parts) {
    static constexpr std::array<std::uint8_t, kZeroBlock> zeros{};
    HashStream hash;
    for (const OutputStretch& stretch : output_stretches(parts, base.length)) {
        if (stretch.source == OutputStretch::Source::base) {
            if (Result<> added = hash_file_range(hash, base.file, stretch.offset, stretch.length);
                !added) {
                return added.error();
            }
        } else if (stretch.source == OutputStretch::Source::parts) {
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
    return hash.finish();
}

ProvisionOutcome provision_into(const BoardData& boardData, std::string_view basePath,
                                const ImageTarget& target, BaseImages& bases,
                                const ProvisionOptions& options,
                                std::unique_ptr<OutputFile>& written) {
    ProvisionOutcome outcome;
    Result<std::shared_ptr<BaseImage>> opened = bases.open(basePath);
    if (!opened) {
        outcome.failure = opened.error();
        return outcome;
    }
    outcome.base = *opened;
    BaseImage& base = **opened;
    BaseImage::Sealed& sealed = sealed_for(base, boardData);
    outcome.digestFailures = sealed.parts.digestFailures;
    if (sealed.fit != RegionFit::fits) {
        outcome.failure = region_failure(sealed.fit, basePath);
        return outcome;
    }
    if (std::optional<Failure> refused = output_refused(base, target, options)) {
        outcome.failure = *refused;
        return outcome;
    }
    outcome.outputLength = base.length;
    if (options.dryRun) {
        Result<> checked = check_output(target);
        if (checked) {
            checked = take_digests(base, sealed, options.digests, outcome);
        }
        if (!checked) {
            outcome.failure = naming(checked.error(), basePath, target.path);
        }
        return outcome;
    }
    Result<std::unique_ptr<OutputFile>> output = open_output(base, target, options);
    if (!output) {
        outcome.failure = output.error();
        return outcome;
    }
    Result<> done = write_image(base, sealed.parts, **output);
    // The disk takes the image while the rest of the run goes on.
    (void)platform::start_writeback((*output)->file());
    if (done && options.digests) {
        done = take_digests(base, sealed, true, outcome);
    }
    if (!done) {
        outcome.failure = naming(done.error(), basePath, target.path);
        return outcome;
    }
    written = std::move(*output);
    return outcome;
}

ProvisionOutcome provisionFile(const BoardData& boardData, std::string_view basePath,
                               std::string_view outputPath, BaseImages& bases,
                               const ProvisionOptions& options) {
    std::unique_ptr<OutputFile> written;
    ProvisionOutcome outcome = provision_into(boardData, basePath, {outputPath, false, nullptr, {}},
                                              bases, options, written);
    if (!outcome.failure.failed() && written != nullptr) {
        if (Result<> committed = written->commit(); !committed) {
            outcome.failure = committed.error();
        }
    }
    return outcome;
}
