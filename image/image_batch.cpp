#include "image/image_batch.h"

#include <set>
#include <string>

std::size_t ImageBatch::add(std::unique_ptr<OutputFile> output) {
    outputs_.push_back(std::move(output));
    return outputs_.size() - 1;
}

std::vector<bool> ImageBatch::commit() {
    std::vector<bool> written(outputs_.size(), false);
    if (!outputs_.empty()) {
        // Only to make the flushes below cheap: their results are what count.
        (void)platform::sync_filesystem(outputs_.front()->file());
    }
    for (std::size_t slot = 0; slot < outputs_.size(); ++slot) {
        written[slot] = outputs_[slot]->flush() && outputs_[slot]->put_in_place();
    }
    std::set<std::string> synced;
    std::set<std::string> failed;
    for (std::size_t slot = 0; slot < outputs_.size(); ++slot) {
        const std::string& directory = outputs_[slot]->directory();
        if (written[slot] && synced.insert(directory).second && !outputs_[slot]->sync_directory()) {
            failed.insert(directory);
        }
        written[slot] = written[slot] && failed.count(directory) == 0;
    }
    outputs_.clear();
    return written;
}
