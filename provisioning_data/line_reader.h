#pragma once

#include "platform/platform.h"

#include <array>
#include <cstddef>
#include <string>

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

    // False when no line is left; `line` then holds nothing.
    bool next(std::string& line);
    // True once a read has failed (a directory, an I/O error): the lines were cut short.
    bool failed() const { return failed_; }
    // True once a line was longer than max_length; it and the lines after it are not read.
    bool line_too_long() const { return line_too_long_; }

  private:
    bool refill();
    bool append_within_cap(std::string& line, const char* bytes, std::size_t count);
    bool end_line(std::string& line);

    const platform::File& file_;
    std::size_t max_length_;
    std::array<char, 64 * 1024> buffer_{};
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool failed_ = false;
    bool line_too_long_ = false;
};
