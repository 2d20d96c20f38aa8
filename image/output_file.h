#pragma once

#include "common/file.h"

#include <string>
#include <string_view>
#include <sys/types.h>

// The output image while it is being written. A regular (or new) output is
// written to a temporary file in its directory and renamed onto it by commit(),
// so a failed run leaves any existing output as it was; a symbolic link has its
// target replaced. An existing output that is not a regular file (a device, a
// FIFO) is written directly.
class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(OutputFile&&) = default;
    OutputFile& operator=(OutputFile&&) = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // False when the output (or its temporary file) cannot be created.
    bool create(std::string_view path);
    int fd() const { return fd_.get(); }
    // Closes and puts the file in place; false when either fails.
    bool commit();

  private:
    void remove_temporary();

    UniqueFd fd_;
    std::string temporary_path_;
    std::string target_path_;
};

// True when path names the file of the given device and inode (any spelling, any link).
bool names_file(std::string_view path, dev_t device, ino_t inode);
