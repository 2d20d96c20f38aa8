#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <unordered_map>
#include <vector>

// The line where each device key was first listed, for a file that may list
// hundreds of thousands: fresh memory costs more than the arithmetic, so keys
// that come in ascending order join a sorted run stored as small steps from one
// listing to the next (4 bytes a device where keys and lines lie close). Keys
// out of order wait in a small table that is merged into the run as it grows.
class FirstListings {
  public:
    bool empty() const { return inRun_ == 0; }

    // The line where key was first listed, or nothing when this listing, at
    // line, is its first.
    std::optional<std::size_t> list(std::uint64_t key, std::size_t line);

  private:
    struct Listing {
        std::uint64_t key = 0;
        std::size_t line = 0;
        bool operator<(const Listing& other) const { return key < other.key; }
    };
    // From the listing before in the run; keys ascend, lines go either way.
    struct Step {
        std::uint16_t key = 0;
        std::int16_t line = 0;
    };
    // A run of listings: the first whole, each other one a step from the one before.
    struct Chunk {
        Listing first;
        std::uint32_t firstStep = 0; // into steps_
        std::uint32_t steps = 0;
    };
    static constexpr std::uint32_t kStepsPerChunk = 63; // bounds a lookup's walk
    static constexpr std::size_t kMinUnsorted = 1024;

    static Listing stepped(Listing from, Step step);
    void append(std::uint64_t key, std::size_t line);
    std::optional<std::size_t> line_in_run(std::uint64_t key) const;
    std::vector<Listing> run() const;
    void merge_unsorted();

    // Deques grow without copying what they hold, which would touch memory twice.
    std::deque<Chunk> chunks_;
    std::deque<Step> steps_;
    Listing last_; // the run's last listing, when chunks_ holds any
    std::size_t inRun_ = 0;
    std::unordered_map<std::uint64_t, std::size_t> unsorted_;
};
