#include "image/image_batch.h"

ProvisionOutcome ImageBatch::add(const BoardData& boardData, std::string_view basePath,
                                 std::string_view name, std::string_view path, BaseImages& bases,
                                 const ProvisionOptions& options) {
    std::unique_ptr<OutputFile> written;
    const ImageTarget target{path, true, directory_, name};
    ProvisionOutcome outcome = provision_into(boardData, basePath, target, bases, options, written);
    if (written != nullptr) {
        waiting_.push_back(std::move(written));
    }
    return outcome;
}

std::vector<Failure> ImageBatch::commit() {
    std::vector<Failure> failures(waiting_.size());
    bool anyPlaced = false;
    for (std::size_t i = 0; i < waiting_.size(); ++i) {
        Result<> placed = waiting_[i]->flush();
        if (placed) {
            placed = waiting_[i]->put_in_place();
        }
        if (!placed) {
            failures[i] = placed.error();
        }
        anyPlaced = anyPlaced || placed;
    }
    // One flush of the directory holds every name renamed in it.
    if (anyPlaced) {
        if (Result<> synced = waiting_.front()->sync_directory(); !synced) {
            for (Failure& failure : failures) {
                failure = failure.failed() ? failure : synced.error();
            }
        }
    }
    waiting_.clear();
    return failures;
}
