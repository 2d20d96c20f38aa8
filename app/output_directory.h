#pragma once

#include "platform/platform.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// Why a batch cannot use its output directory: the diagnostic with the
// system's reason, and the line the batch prints with the directory's name.
struct DirectoryRefusal {
    std::string diagnostic;
    std::string_view line; // "Unable to create output directory " or "... lock ..."
};

// A batch's output directory: made if missing (its parent flushed, so the
// images' names survive a power cut), opened, and held by this batch alone.
// A dry run only checks that it could be, and takes no lock.
class OutputDirectory {
  public:
    explicit OutputDirectory(std::string path) : path_(std::move(path)) {}

    std::optional<DirectoryRefusal> prepare(bool dryRun);

    const std::string& path() const { return path_; }
    // Open after prepare(), unless a dry run's directory does not exist yet.
    bool is_open() const { return open_; }
    const platform::Directory& directory() const { return directory_; }
    const platform::Directory* opened() const { return open_ ? &directory_ : nullptr; }
    // The .fwb files it holds that are not among names, sorted; none when it
    // is not open or cannot be listed.
    std::vector<std::string> images_other_than(const std::unordered_set<std::string>& names) const;

  private:
    std::optional<DirectoryRefusal> could_make() const;
    std::optional<DirectoryRefusal> make() const;
    std::optional<DirectoryRefusal> lock();

    std::string path_;
    platform::Directory directory_;
    bool open_ = false;
};
