#pragma once

#include "image/output_file.h"
#include "platform/platform.h"

#include <cstddef>
#include <memory>
#include <vector>

// Images written whole into their temporary files and put in place together:
// one flush of their filesystem, then each image's own flush (which finds
// little left to do, and reports its file's errors), each renamed onto its
// output, then each directory flushed once. An image counts as written only
// when all of that has held for it, as for one run.
class ImageBatch {
  public:
    // Bounds the temporary files open at once; each may hold a name to remove on a signal.
    static constexpr std::size_t kCapacity = 64;
    static_assert(kCapacity < platform::kRemovalSlots);

    bool full() const { return outputs_.size() >= kCapacity; }
    // Takes an image that is written but not yet flushed; its slot in the batch.
    std::size_t add(std::unique_ptr<OutputFile> output);
    // Puts every image in place; for each slot, whether it is written. The batch is then empty.
    std::vector<bool> commit();

  private:
    std::vector<std::unique_ptr<OutputFile>> outputs_;
};
