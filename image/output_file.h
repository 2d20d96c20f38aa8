#pragma once

#include "common/failure.h"
#include "platform/platform.h"

#include <optional>
#include <string>
#include <string_view>

// The output image while it is written. A regular output, new or existing, is
// written to a temporary file in the directory of the file it replaces, flushed
// to stable storage and renamed onto it by commit() (or, for a batch, by
// flush(), put_in_place() and a flush of the directory in turn), so a failure or
// a power cut leaves the old output whole. Every name is created and replaced
// through the directory's handle. An output that is not a regular file (a
// device, a FIFO, a pipe) is written directly, in file order. Each call says
// what failed; every failure has status 67.
class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Removes what a run that did not commit leaves behind.
    ~OutputFile();

    // A path the user named, opened as the system allows its writing: read-only
    // files and protected links are refused, a link keeps its place and what it
    // leads to is replaced, keeping its owner and permissions.
    Result<> open(std::string_view path);
    // A name the tool chose in directory, which must outlive this: whatever has
    // the name is never followed or opened, and is replaced as an entry; the new
    // file is the running user's, with 0666 less the creation mask.
    Result<> open_in(const platform::Directory& directory, std::string_view name);

    // The file the image goes into: the temporary file, or the output itself.
    const platform::File& file() const { return file_; }
    // True when the output takes the image directly, in file order.
    bool streams() const { return !replacing_; }
    // The existing file a named path reaches, or what a chosen name has now.
    std::optional<platform::FileIdentity> existing() const { return existing_; }
    // Flushes the image to stable storage and puts it in place.
    Result<> commit();

    // The steps of commit(), for images put in place together: the image to
    // stable storage; then its name (a streaming output is closed); then the
    // directory that holds the name, once for all the images it holds.
    Result<> flush();
    Result<> put_in_place();
    Result<> sync_directory();

    // The refusals open() would meet, without opening or creating anything.
    static Result<> check(std::string_view path);
    // The refusals open_in() and put_in_place() would meet.
    static Result<> check_in(const platform::Directory& directory, std::string_view name);

  private:
    Result<> open_once(std::string_view path);
    Result<> open_existing(std::string_view path, platform::File& output);
    Result<> open_through_dangling_link(std::string_view path);
    Result<> locate(std::string_view path, const platform::File& opened,
                    const platform::FileInfo& info);
    Result<> prepare_replacement(const platform::FileInfo* replaced);
    Result<> create_temporary();
    platform::Error keep_attributes(const platform::FileInfo* replaced);
    // Call with the termination signals held, so the name is never left unregistered.
    void name_temporary(std::string name);
    void forget_temporary();
    static Failure fail(Check check, std::string_view path, platform::Error error);

    platform::File file_;
    bool replacing_ = false;
    bool changed_ = false; // the name led elsewhere by the time it was checked
    std::string path_;     // as given, or the chosen name's path, for messages
    std::optional<platform::FileIdentity> existing_;
    std::string target_;                             // the path of the file finally replaced
    platform::Directory ownDirectory_;               // for a named path: the target's
    const platform::Directory* directory_ = nullptr; // where the target and temporary lie
    std::string name_;                               // the target's name in directory_
    std::string temporary_;                          // the temporary file's name, once it has one
    std::size_t removal_ = platform::kNoRemoval;     // its slot for removal on a signal
};
