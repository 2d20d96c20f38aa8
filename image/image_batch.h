#pragma once

#include "image/calc_hash.h"
#include "image/header_sealing.h"
#include "image/output_file.h"
#include "image/provision_file.h"
#include "platform/platform.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// An image written whole into its temporary file, waiting to be put in place.
struct BatchImage {
    std::unique_ptr<OutputFile> output;
    std::shared_ptr<const BaseImage> base;
    ProvisionedParts parts;
    std::string basePath; // for messages
    bool digest = false;  // its SHA-256 is wanted
};

struct PlacedImage {
    bool written = false;
    std::optional<DigestValue> digest;
};

// Images put in place together: one flush of each of their filesystems (or, where that
// cannot be, each image's own), then each renamed onto its output once its
// digest, computed on the other cores meanwhile, is known, then each directory
// flushed once. An image counts as written only when all of that has held for
// it, as for one run.
class ImageBatch {
  public:
    // Bounds the temporary files open at once; each may hold a name to remove on a signal.
    static constexpr std::size_t kCapacity = 64;
    static_assert(kCapacity < platform::kRemovalSlots);

    // Takes an image that is written but not yet flushed; its slot in the batch.
    std::size_t add(BatchImage image);
    // Puts every image in place; how each slot went. The batch is then empty.
    // Failures are explained on standard error only.
    std::vector<PlacedImage> commit();

  private:
    // Flushed and renamed, each once its digest is known; the helpers are done on return.
    std::vector<PlacedImage> put_in_place();
    // For each slot, whether the flush of its image's filesystem held.
    std::vector<bool> flush_filesystems() const;

    std::vector<BatchImage> images_;
};
