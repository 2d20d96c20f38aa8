#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Owns a POSIX file descriptor; closes it on every path out of its scope.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    // Closes now and tells whether the close succeeded (a late write error shows here).
    bool close();

  private:
    int fd_ = -1;
};

// A path holding a NUL byte names no file, so it is refused rather than cut short.
bool names_a_file(std::string_view path);

// An invalid handle when the file cannot be opened.
UniqueFd open_for_reading(std::string_view path);

// A whole file mapped for reading: only the pages looked at are read, so a large
// image costs no memory. An empty file maps to no bytes.
class MappedFile {
  public:
    MappedFile() = default;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    // False when the path names no regular file that can be opened and mapped.
    bool open(std::string_view path);
    std::span<const std::uint8_t> bytes() const { return bytes_; }

  private:
    std::span<const std::uint8_t> bytes_;
};
