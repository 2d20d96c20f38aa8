#pragma once

#include "platform/platform.h"

#include <optional>
#include <string>
#include <string_view>

// The output image while it is written. A regular output, new or existing, is
// written to a temporary file in the directory of the file it replaces, flushed to
// stable storage and renamed onto it by commit() (or, for a batch, by flush(),
// put_in_place() and sync_directory() in turn), so a failure or a power cut
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

    // The steps of commit(), for images put in place together: the image to
    // stable storage; then its name (a streaming output is closed); then the
    // directory that holds the name, once for all the images it holds.
    bool flush();
    bool put_in_place();
    bool sync_directory();
    // The directory whose entry put_in_place() changes; empty when the output streams.
    const std::string& directory() const { return directory_; }

    // The refusals open() would meet, without opening or creating anything.
    static bool check(std::string_view path);

  private:
    bool open_once(std::string_view path);
    bool open_existing(std::string_view path, platform::File& output);
    bool open_through_dangling_link(std::string_view path);
    bool locate(std::string_view path, const platform::File& opened,
                const platform::FileInfo& info);
    bool prepare_replacement(std::string_view path, const platform::FileInfo* replaced);
    bool create_temporary(std::string_view directory);
    platform::Error keep_attributes(const platform::FileInfo* replaced);
    // Call with the termination signals held, so the name is never left unregistered.
    void name_temporary(std::string name);
    void forget_temporary();
    static bool fail(std::string_view action, std::string_view path, platform::Error error);

    platform::File file_;
    bool replacing_ = false;
    bool changed_ = false; // the name led elsewhere by the time it was checked
    std::string path_;     // as given, for messages
    std::optional<platform::FileIdentity> existing_;
    std::string target_;                         // the file finally replaced
    std::string directory_;                      // where the temporary file lives
    std::string temporary_;                      // the temporary file's name, once it has one
    std::size_t removal_ = platform::kNoRemoval; // its slot for removal on a signal
};
