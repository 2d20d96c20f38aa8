#pragma once

#include "common/board_data.h"
#include "common/status.h"
#include "image/calc_hash.h"
#include "image/header_sealing.h"
#include "platform/platform.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class ImageBatch;

// Why a copy stopped short: the input (which ended early when error is clear)
// or the output.
struct CopyFailure {
    bool inInput = false;
    platform::Error error;
};

// Copies count bytes of in, from inOffset, to out: at outOffset, or at out's
// position when there is none (an output that streams). 0 on success; -1 when
// in ends before count is met or a read or write fails.
int copy(const platform::File& in, std::uint64_t inOffset, const platform::File& out,
         std::optional<std::uint64_t> outOffset, std::uint64_t count, CopyFailure& failure);

// A base image as a run opened it; the devices of a batch that name it share it.
struct BaseImage {
    platform::File file;
    platform::FileIdentity identity;
    std::uint64_t length = 0; // as when opened: the copy reads exactly this much
    ImageHeader header{};
    bool chainChecked = false; // the table at its bdpOffset could be read
    // The digests of its chain that differ from its own bytes; none when they hold.
    std::vector<std::string_view> unsealed;
    std::optional<DigestValue> digest; // of its bytes, once a run asked for it
    bool warned = false;
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

// The base images of a run, each opened, read and checked once however many
// devices name it. A few are kept open at a time.
class BaseImages {
  public:
    // The base image at path; nullptr when it cannot be opened or read.
    std::shared_ptr<BaseImage> open(std::string_view path);

  private:
    std::map<std::string, std::shared_ptr<BaseImage>, std::less<>> opened_;
};

// The SHA-256 of the image provisioning writes for parts, from the base's bytes
// with the sealed header and region in their place, whether or not it is
// written. False when the base ends early (error clear) or cannot be read.
// Prints nothing, so that several can run at once.
bool output_digest(const BaseImage& base, const ProvisionedParts& parts, DigestValue& digest,
                   platform::Error& error);

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
    // A batch's image goes to a name the tool chose in the batch's directory
    // (none yet for a dry run that would make it), and waits in the batch to be
    // put in place with others (none in a dry run).
    bool chosenName = false;
    const platform::Directory* directory = nullptr;
    std::string_view name;
    ImageBatch* batch = nullptr;
    std::span<const RunFile> otherFiles;
};

struct ProvisionOutcome {
    std::shared_ptr<BaseImage> base; // once opened
    std::uint64_t outputLength = 0;
    std::optional<DigestValue> outputDigest;
    std::optional<std::size_t> batchSlot; // where the image waits in the batch
};

// The provisioning stage with its options: prints the lengths, opens the base
// through bases, checks the region and the output, then writes the image (or,
// for a dry run, only computes its digest). 0, 67 or 69, with the failing step's line.
Status provision_device(const BoardData& boardData, std::string_view basePath,
                        std::string_view outputPath, BaseImages& bases,
                        const ProvisionOptions& options, ProvisionOutcome& outcome);

// The line of an output that could not be written or put in place.
void print_unable_to_write(std::string_view outputPath);

// Warns on standard error, once a base, when its chain does not hold.
void warn_if_base_unsealed(BaseImage& base, std::string_view basePath);

// The provisioning stage: writes the base image with boardData's BDP region
// and a resealed header to outputPath. 0, 67 or 69.
Status provisionFile(const BoardData& boardData, std::string_view basePath,
                     std::string_view outputPath);
