#include "image/image_batch.h"

#include "common/report.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
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

DigestResult digest_of(const BatchImage& image) {
    DigestResult result;
    result.ok =
        !image.digest || output_digest(*image.base, image.parts, result.digest, result.error);
    return result;
}

// Hashing is most of a batch's work and each image's digest is its own, so
// helper threads compute them in slot order while the images are put in place.
class DigestWork {
  public:
    explicit DigestWork(const std::vector<BatchImage>& images)
        : images_(images), results_(images.size()), finished_(images.size(), false) {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        // Helpers inherit the held signals and keep them held, so that a signal
        // always reaches the thread that registers the temporaries it removes.
        const platform::TerminationSignalsHeld held;
        try {
            while (helpers_.size() < std::min(cores, kMostHashingThreads)) {
                helpers_.emplace_back([this] { work(); });
            }
        } catch (const std::system_error&) {
            // Fewer threads only make it slower; with none, result() hashes.
        }
    }

    ~DigestWork() {
        for (std::thread& helper : helpers_) {
            helper.join();
        }
    }

    DigestWork(const DigestWork&) = delete;
    DigestWork& operator=(const DigestWork&) = delete;

    const DigestResult& result(std::size_t slot) {
        if (helpers_.empty()) {
            results_[slot] = digest_of(images_[slot]);
            return results_[slot];
        }
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return finished_[slot]; });
        return results_[slot];
    }

  private:
    void work() {
        for (std::size_t slot = next_++; slot < images_.size(); slot = next_++) {
            DigestResult result = digest_of(images_[slot]);
            const std::lock_guard lock(mutex_);
            results_[slot] = result;
            finished_[slot] = true;
            done_.notify_all();
        }
    }

    const std::vector<BatchImage>& images_;
    std::vector<DigestResult> results_;
    std::vector<bool> finished_;
    std::atomic<std::size_t> next_ = 0;
    std::mutex mutex_;
    std::condition_variable done_;
    std::vector<std::thread> helpers_;
};

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
    std::vector<PlacedImage> placed = put_in_place();
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

// One flush of a filesystem holds for every image in it; where there is none,
// or it fails, each image's own flush says which are on storage.
std::vector<bool> ImageBatch::flush_filesystems() const {
    std::vector<bool> flushed(images_.size(), false);
    std::map<std::uint64_t, bool> filesystems; // by device: whether its flush held
    for (std::size_t slot = 0; slot < images_.size(); ++slot) {
        const platform::File& file = images_[slot].output->file();
        platform::FileInfo info;
        if (platform::info_of(file, info).failed()) {
            continue;
        }
        const auto [filesystem, first] = filesystems.try_emplace(info.identity.device, false);
        if (first) {
            filesystem->second = !platform::sync_filesystem(file).failed();
        }
        flushed[slot] = filesystem->second;
    }
    return flushed;
}

std::vector<PlacedImage> ImageBatch::put_in_place() {
    std::vector<PlacedImage> placed(images_.size());
    DigestWork digests(images_);
    const std::vector<bool> flushedTogether = flush_filesystems();
    for (std::size_t slot = 0; slot < images_.size(); ++slot) {
        OutputFile& output = *images_[slot].output;
        const DigestResult& digest = digests.result(slot);
        if (!digest.ok) {
            report_unread_base(images_[slot], digest.error);
            continue;
        }
        if (images_[slot].digest) {
            placed[slot].digest = digest.digest;
        }
        placed[slot].written = (flushedTogether[slot] || output.flush()) && output.put_in_place();
    }
    return placed;
}
