#include "image/image_batch.h"

std::size_t ImageBatch::add(std::unique_ptr<OutputFile> image) {
    images_.push_back(std::move(image));
    return images_.size() - 1;
}

std::vector<bool> ImageBatch::commit() {
    std::vector<bool> placed(images_.size(), false);
    bool anyPlaced = false;
    for (std::size_t slot = 0; slot < images_.size(); ++slot) {
        placed[slot] = images_[slot]->flush() && images_[slot]->put_in_place();
        anyPlaced = anyPlaced || placed[slot];
    }
    // One flush of the directory holds every name renamed in it.
    if (anyPlaced) {
        const bool synced = images_.front()->sync_directory();
        for (std::size_t slot = 0; slot < placed.size(); ++slot) {
            placed[slot] = placed[slot] && synced;
        }
    }
    images_.clear();
    return placed;
}
