#include "image/image_batch.h"

#include "common/report.h"

#include <algorithm>
#include <atomic>
#include <set>
#include <system_error>
#include <thread>

namespace {

constexpr unsigned kMostHashingThreads = 4;

struct DigestResult {
    bool ok = true;
    DigestValue digest{};
    platform::Error error;
};

// Hashing is most of a batch's work, and each image's digest is its own.
std::vector<DigestResult> digests_of(const std::vector<BatchImage>& images) {
    std::vector<DigestResult> results(images.size());
    std::atomic<std::size_t> next = 0;
    const auto work = [&] {
        for (std::size_t i = next++; i < images.size(); i = next++) {
            const BatchImage& image = images[i];
            results[i].ok = !image.digest || output_digest(*image.base, image.parts,
                                                           results[i].digest, results[i].error);
        }
    };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> helpers;
    try {
        while (helpers.size() + 1 < std::min(cores, kMostHashingThreads)) {
            helpers.emplace_back(work);
        }
    } catch (const std::system_error&) {
        // Fewer threads only make it slower.
    }
    work();
    for (std::thread& helper : helpers) {
        helper.join();
    }
    return results;
}

void report_unread_base(const BatchImage& image, const platform::Error& error) {
    print_diagnostic(
        "cannot read " + image.basePath + ": " +
        (error.failed() ? error.reason() : "it ended before the length it had when opened"));
}

} // namespace

std::size_t ImageBatch::add(BatchImage image) {
    images_.push_back(std::move(image));
    return images_.size() - 1;
}

std::vector<PlacedImage> ImageBatch::commit() {
    std::vector<PlacedImage> placed(images_.size());
    const std::vector<DigestResult> digests = digests_of(images_);
    if (!images_.empty()) {
        // Only to make the flushes below cheap: their results are what count.
        (void)platform::sync_filesystem(images_.front().output->file());
    }
    for (std::size_t slot = 0; slot < images_.size(); ++slot) {
        OutputFile& output = *images_[slot].output;
        if (!digests[slot].ok) {
            report_unread_base(images_[slot], digests[slot].error);
            continue;
        }
        if (images_[slot].digest) {
            placed[slot].digest = digests[slot].digest;
        }
        placed[slot].written = output.flush() && output.put_in_place();
    }
    std::set<std::string> synced;
    std::set<std::string> failed;
    for (std::size_t slot = 0; slot < images_.size(); ++slot) {
        OutputFile& output = *images_[slot].output;
        const std::string& directory = output.directory();
        if (placed[slot].written && synced.insert(directory).second && !output.sync_directory()) {
            failed.insert(directory);
        }
        placed[slot].written = placed[slot].written && failed.count(directory) == 0;
    }
    images_.clear();
    return placed;
}
