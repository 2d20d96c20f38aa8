#include "app/output_directory.h"

#include <algorithm>

namespace {

constexpr std::string_view kUnableToCreate = "Unable to create output directory ";

// A directory's name without the separators that may end it: "out/" is out.
std::string_view bare(std::string_view directory) {
    while (directory.size() > 1 &&
           platform::kPathSeparators.find(directory.back()) != std::string_view::npos) {
        directory.remove_suffix(1);
    }
    return directory;
}

DirectoryRefusal cannot_create(std::string diagnostic) {
    return {std::move(diagnostic), kUnableToCreate};
}

} // namespace

std::optional<DirectoryRefusal> OutputDirectory::prepare(bool dryRun) {
    platform::FileInfo info;
    if (!platform::info_of_path(path_, info).failed()) {
        if (info.kind != platform::FileKind::directory) {
            return cannot_create(path_ + " is not a directory");
        }
    } else if (dryRun) {
        return could_make();
    } else if (std::optional<DirectoryRefusal> refusal = make()) {
        return refusal;
    }
    if (const platform::Error error = directory_.open(path_); error.failed()) {
        return cannot_create("cannot open the directory " + path_ + ": " + error.reason());
    }
    open_ = true;
    return dryRun ? std::nullopt : lock();
}

std::optional<DirectoryRefusal> OutputDirectory::lock() {
    const platform::Error error = directory_.try_lock();
    if (!error.failed()) {
        return std::nullopt;
    }
    return DirectoryRefusal{"cannot lock " + path_ + ": " +
                                (error.busy()
                                     ? "another process holds its lock (a batch writing into it)"
                                     : error.reason()),
                            "Unable to lock output directory "};
}

std::optional<DirectoryRefusal> OutputDirectory::could_make() const {
    if (const platform::Error error = platform::may_create(bare(path_)); error.failed()) {
        return cannot_create("cannot create the directory " + path_ + ": " + error.reason());
    }
    return std::nullopt;
}

std::optional<DirectoryRefusal> OutputDirectory::make() const {
    if (const platform::Error error = platform::make_directory(path_); error.failed()) {
        return cannot_create("cannot create the directory " + path_ + ": " + error.reason());
    }
    const std::string parent = platform::directory_of(bare(path_));
    if (const platform::Error error = platform::sync_directory(parent); error.failed()) {
        return cannot_create("cannot flush the directory " + parent + ": " + error.reason());
    }
    return std::nullopt;
}

std::vector<std::string>
OutputDirectory::images_other_than(const std::unordered_set<std::string>& names) const {
    std::vector<std::string> entries;
    if (!open_ || platform::names_in(directory_, entries).failed()) {
        return {};
    }
    std::erase_if(entries, [&](const std::string& name) {
        return !name.ends_with(".fwb") || names.contains(name);
    });
    std::sort(entries.begin(), entries.end());
    return entries;
}
