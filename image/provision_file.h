#pragma once

#include "common/board_data.h"
#include "common/failure.h"
#include "image/base_image.h"
#include "image/calc_hash.h"
#include "image/header_sealing.h"
#include "image/output_file.h"
#include "platform/platform.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

// A file the run uses besides the base and the output, which the output may not
// be under any name: writing the image there would destroy an input or mix with
// what else the run writes.
struct RunFile {
    platform::FileIdentity identity;
    std::string_view role; // "the update data", "the record", "standard output"
};

struct ProvisionOptions {
    bool dryRun = false;  // every check, nothing written
    bool digests = false; // the base's and the output's SHA-256
    std::span<const RunFile> otherFiles;
};

// Where an image goes: a path the user named, or a name the tool chose in a
// directory, never followed (none yet for a dry run that would make it).
struct ImageTarget {
    std::string_view path; // as given, or the chosen name's path: for failures
    bool chosen = false;
    const platform::Directory* directory = nullptr;
    std::string_view name;
};

// What provisioning found and did, and what failed.
struct ProvisionOutcome {
    std::shared_ptr<BaseImage> base; // once opened
    unsigned digestFailures = 0;     // the hash library's, while sealing: they stop nothing
    std::uint64_t outputLength = 0;
    std::optional<DigestValue> outputDigest; // when asked, or for a dry run
    Failure failure;
};

// All of provisioning but putting the image in place: opens the base through
// bases, seals a copy of its header for boardData, checks the region and the
// output, writes the image into written's file (the output itself when it
// streams) and takes the digests asked for. A dry run writes nothing and leaves
// written empty, but computes the output's digest. Fails with 67 or 69.
ProvisionOutcome provision_into(const BoardData& boardData, std::string_view basePath,
                                const ImageTarget& target, BaseImages& bases,
                                const ProvisionOptions& options,
                                std::unique_ptr<OutputFile>& written);

// The provisioning stage: writes the base image with boardData's BDP region and
// a resealed header to outputPath, on stable storage before it returns.
ProvisionOutcome provisionFile(const BoardData& boardData, std::string_view basePath,
                               std::string_view outputPath, BaseImages& bases,
                               const ProvisionOptions& options = {});

// The SHA-256 of the image provisioning writes for parts, from the base's bytes
// with the sealed header and region in their place, whether or not it is
// written; base_unread when the base ends early or cannot be read.
Result<DigestValue> output_digest(const BaseImage& base, const ProvisionedParts& parts);
