#pragma once

#include "image/output_file.h"
#include "platform/platform.h"

#include <cstddef>
#include <memory>
#include <vector>

// Images of one directory put in place together: each, written whole into its
// temporary file (its writeback started then), is flushed to stable storage
// and renamed onto its name; then the directory is flushed once. An image counts
// as written only when all of that held for it, as for one run.
class ImageBatch {
  public:
    // Bounds the temporary files open at once; each may hold a name to remove on a signal.
    static constexpr std::size_t kCapacity = 64;
    static_assert(kCapacity < platform::kRemovalSlots);

    explicit ImageBatch(const platform::Directory& directory) : directory_(directory) {}
    const platform::Directory& directory() const { return directory_; }

    // Takes an image that is written but not yet flushed; its slot in the batch.
    std::size_t add(std::unique_ptr<OutputFile> image);
    // Puts every image in place; whether each slot's is. The batch is then empty.
    // Failures are explained on standard error only.
    std::vector<bool> commit();

  private:
    const platform::Directory& directory_;
    std::vector<std::unique_ptr<OutputFile>> images_;
};
