#include "provisioning_data/first_listings.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace {

bool fits_a_step(std::uint64_t keyStep, std::size_t fromLine, std::size_t toLine) {
    constexpr auto kMaxLineStep = std::size_t{std::numeric_limits<std::int16_t>::max()};
    const bool lineFits = toLine >= fromLine ? toLine - fromLine <= kMaxLineStep
                                             : fromLine - toLine <= kMaxLineStep + 1;
    return keyStep <= std::numeric_limits<std::uint16_t>::max() && lineFits;
}

} // namespace

FirstListings::Listing FirstListings::stepped(Listing from, Step step) {
    from.key += step.key;
    from.line = static_cast<std::size_t>(static_cast<std::int64_t>(from.line) + step.line);
    return from;
}

std::optional<std::size_t> FirstListings::list(std::uint64_t key, std::size_t line) {
    if (inRun_ == 0 || key > last_.key) {
        append(key, line);
        return std::nullopt;
    }
    if (const std::optional<std::size_t> first = line_in_run(key)) {
        return first;
    }
    const auto [waiting, inserted] = unsorted_.try_emplace(key, line);
    if (!inserted) {
        return waiting->second;
    }
    if (unsorted_.size() > std::max(kMinUnsorted, inRun_ / 16)) {
        merge_unsorted();
    }
    return std::nullopt;
}

// Keys above the run's last.
void FirstListings::append(std::uint64_t key, std::size_t line) {
    if (inRun_ > 0 && chunks_.back().steps < kStepsPerChunk &&
        fits_a_step(key - last_.key, last_.line, line)) {
        steps_.push_back({static_cast<std::uint16_t>(key - last_.key),
                          static_cast<std::int16_t>(static_cast<std::int64_t>(line) -
                                                    static_cast<std::int64_t>(last_.line))});
        ++chunks_.back().steps;
    } else {
        chunks_.push_back({{key, line}, static_cast<std::uint32_t>(steps_.size()), 0});
    }
    last_.key = key;
    last_.line = line;
    ++inRun_;
}

std::optional<std::size_t> FirstListings::line_in_run(std::uint64_t key) const {
    const auto after =
        std::upper_bound(chunks_.begin(), chunks_.end(), key,
                         [](std::uint64_t k, const Chunk& chunk) { return k < chunk.first.key; });
    if (after == chunks_.begin()) {
        return std::nullopt;
    }
    const Chunk& chunk = *std::prev(after);
    Listing at = chunk.first;
    for (std::uint32_t i = 0; i < chunk.steps && at.key < key; ++i) {
        at = stepped(at, steps_[chunk.firstStep + i]);
    }
    if (at.key != key) {
        return std::nullopt;
    }
    return at.line;
}

std::vector<FirstListings::Listing> FirstListings::run() const {
    std::vector<Listing> listings;
    listings.reserve(inRun_);
    for (const Chunk& chunk : chunks_) {
        Listing at = chunk.first;
        listings.push_back(at);
        for (std::uint32_t i = 0; i < chunk.steps; ++i) {
            at = stepped(at, steps_[chunk.firstStep + i]);
            listings.push_back(at);
        }
    }
    return listings;
}

void FirstListings::merge_unsorted() {
    std::vector<Listing> waiting;
    waiting.reserve(unsorted_.size());
    for (const auto& [key, line] : unsorted_) {
        waiting.push_back({key, line});
    }
    unsorted_.clear();
    std::sort(waiting.begin(), waiting.end());
    std::vector<Listing> merged;
    {
        const std::vector<Listing> listed = run();
        merged.reserve(listed.size() + waiting.size());
        std::merge(listed.begin(), listed.end(), waiting.begin(), waiting.end(),
                   std::back_inserter(merged));
    }
    chunks_.clear();
    steps_.clear();
    inRun_ = 0;
    for (const Listing& listing : merged) {
        append(listing.key, listing.line);
    }
}
