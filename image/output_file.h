#pragma once

#include "platform/platform.h"

#include <optional>
#include <string>
#include <string_view>

// The output image while it is written. A regular output, new or existing, is
// written to a temporary file in the directory of the file it replaces, flushed to
// stable storage and renamed onto it by commit(), so a failure or a power cut
// leaves the old output whole; a link keeps its place and its target is
// replaced. An output that is not a regular file (a device, a FIFO, a pipe) is
// written directly, in file order. Failures are explained on standard error.
class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Removes what a run that did not commit leaves behind.
    ~OutputFile();

    // Opens path as the system allows its writing (read-only files and protected
    // links are refused) and prepares the temporary file.
    bool open(std::string_view path);
    // The file the image goes into: the temporary file, or the output itself.
    const platform::File& file() const { return file_; }
    // True when the output takes the image directly, in file order.
    bool streams() const { return !replacing_; }
    // The existing file that path reaches, if any.
    std::optional<platform::FileIdentity> existing() const { return existing_; }
    // Flushes the image to stable storage and puts it in place.
    bool commit();

  private:
    bool open_once(std::string_view path);
    bool open_existing(std::string_view path, platform::File& output);
    bool open_through_dangling_link(std::string_view path);
    bool locate(std::string_view path, const platform::File& opened,
                const platform::FileInfo& info);
    bool prepare_replacement(std::string_view path, const platform::FileInfo* replaced);
    bool create_temporary(std::string_view directory);
    platform::Error keep_attributes(const platform::FileInfo* replaced);
    bool put_in_place();
    bool fail(std::string_view action, std::string_view path, platform::Error error);

    platform::File file_;
    bool replacing_ = false;
    bool changed_ = false; // the name led elsewhere by the time it was checked
    std::string path_;     // as given, for messages
    std::optional<platform::FileIdentity> existing_;
    std::string target_;    // the file finally replaced
    std::string directory_; // where the temporary file lives
    std::string temporary_; // the temporary file's name, once it has one
};
