#pragma once

#include "image/provision_file.h"
#include "platform/platform.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

// A file of JSON lines that concurrent runs append to: each append takes the
// file's lock, writes its lines whole, flushes them and lets go, so no line is
// lost or torn. Failures are explained on standard error.
class RunRecord {
  public:
    // Opens the file, creating it with 0666 less the umask, unless it is one of others.
    bool open(std::string_view path, std::span<const RunFile> others);
    bool is_open() const { return file_.valid(); }
    // Closes the record, explaining why, when it is the file at path (a base image
    // the run is to read, say), whose role tells which.
    bool is_not(std::string_view path, std::string_view role);
    // The record's identity, once it is open.
    std::optional<platform::FileIdentity> identity() const;
    // Appends lines (each ending in a line feed). A file that holds anything but
    // JSON lines (its first byte, or its torn last line's, no '{') is refused, not
    // touched; a torn last line is cut back first; on a failure the file is cut
    // back to where it ended, so it never holds part of a line.
    bool append(std::string_view lines);
    const std::string& path() const { return path_; }

  private:
    bool fail(std::string_view action, std::string_view reason);

    platform::File file_;
    std::string path_;
};
