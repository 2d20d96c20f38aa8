#pragma once

#include "common/failure.h"
#include "image/base_image.h"
#include "image/output_file.h"
#include "image/provision_file.h"
#include "platform/platform.h"

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

// Images of one directory, each under a name the tool chose there, put in place
// together: each written whole into its temporary file (its writeback started
// then) waits; commit() flushes each to stable storage and renames it onto its
// name, then flushes the directory once. An image counts as written only when
// all of that held for it, as for one run.
class ImageBatch {
  public:
    // Bounds the temporary files open at once; each may hold a name to remove on a signal.
    static constexpr std::size_t kCapacity = 64;
    static_assert(kCapacity < platform::kRemovalSlots);

    // directory outlives the batch; none for a dry run into a directory it would make.
    // At most capacity images wait at once (each holds a file open).
    explicit ImageBatch(const platform::Directory* directory, std::size_t capacity = kCapacity)
        : directory_(directory), capacity_(capacity) {}

    std::size_t capacity() const { return capacity_; }

    // Provisions boardData's image for name (path is how messages name it);
    // unless it failed, or the run is dry, the image then waits for commit().
    ProvisionOutcome add(const BoardData& boardData, std::string_view basePath,
                         std::string_view name, std::string_view path, BaseImages& bases,
                         const ProvisionOptions& options);

    // Puts the waiting images in place, in the order they were added: for each,
    // what failed, if anything. The batch is then empty.
    std::vector<Failure> commit();

  private:
    const platform::Directory* directory_;
    std::size_t capacity_;
    std::vector<std::unique_ptr<OutputFile>> waiting_;
};
