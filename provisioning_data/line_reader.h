#pragma once

#include "common/sha256_stream.h"
#include "platform/platform.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The longest line the update data may hold, its line feed not counted: past it
// the reading ends, so no input (/dev/zero, say) can make memory grow further.
inline constexpr std::size_t kMaxLineLength = 64 * 1024 * 1024;

// Reads whole lines from a file descriptor. A line keeps its line feed; a
// carriage return directly before the line feed is dropped; the last line may
// lack its line feed. A read error or a line longer than max_length (counted as
// read, without its line feed) ends the input and is remembered.
class LineReader {
  public:
    explicit LineReader(const platform::File& file, std::size_t max_length = kMaxLineLength)
        : file_(file), max_length_(max_length) {}

    // From the file's first byte, by reads at positions of the reader's own that
    // leave the file's position alone: a writer reads back what it wrote so.
    struct FromStart {};
    LineReader(const platform::File& file, FromStart, std::size_t max_length = kMaxLineLength)
        : file_(file), max_length_(max_length), positioned_(true) {}

    // False when no line is left; `line` then holds nothing.
    bool next(std::string& line);
    // The same line as a view, valid until the next call: into the read buffer
    // when the line lies there whole, so that most lines are never copied.
    bool next_view(std::string_view& line);
    // True once a read has failed (a directory, an I/O error): the lines were cut short.
    bool failed() const { return error_.failed(); }
    // The system's reason for the first failed read.
    const platform::Error& error() const { return error_; }
    // True once a line was longer than max_length; it and the lines after it are not read.
    bool line_too_long() const { return line_too_long_; }

    // Adds every byte read from now on to hash, so that the file's digest is of
    // the very bytes the lines came from.
    void hash_into(HashStream& hash) { hash_ = &hash; }
    // Reads the rest of the file, for its digest; false when a read fails.
    bool read_to_end();

  private:
    bool refill();
    bool append_within_cap(const char* bytes, std::size_t count);
    bool end_whole_line(std::string_view whole, std::string_view& line);
    bool end_gathered_line(std::string_view& line);
    bool within_cap(std::string_view line);

    const platform::File& file_;
    std::size_t max_length_;
    bool positioned_ = false;
    std::uint64_t offset_ = 0; // where a positioned read goes on
    std::array<char, 64 * 1024> buffer_{};
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::string gathered_; // a line that runs past the buffer, or lost its carriage return
    platform::Error error_;
    bool line_too_long_ = false;
    HashStream* hash_ = nullptr;
};
