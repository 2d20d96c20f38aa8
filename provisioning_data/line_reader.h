#pragma once

#include "platform/platform.h"

#include <array>
#include <cstddef>
#include <string>

// Reads whole lines of any length from a file descriptor. A line keeps its line
// feed; a carriage return directly before the line feed is dropped; the last
// line may lack its line feed. A read error ends the input and is remembered.
class LineReader {
  public:
    explicit LineReader(const platform::File& file) : file_(file) {}

    // False when no line is left; `line` then holds nothing.
    bool next(std::string& line);
    // True once a read has failed (a directory, an I/O error): the lines were cut short.
    bool failed() const { return failed_; }

  private:
    bool refill();

    const platform::File& file_;
    std::array<char, 64 * 1024> buffer_{};
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool failed_ = false;
};
