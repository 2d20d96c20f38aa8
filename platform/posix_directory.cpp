#include "platform/posix_internal.h"
#include "platform/random_names.h"

#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

using namespace detail;

Error Directory::open(std::string_view path) {
    path_ = std::string(path);
    return open_with(path, O_RDONLY | O_DIRECTORY, handle_);
}

Error Directory::try_lock() {
    return ::flock(fd_of(handle_), LOCK_EX | LOCK_NB) == 0 ? success() : last_error();
}

Error create_uniquely_named_in(const Directory& directory, std::string_view prefix, File& file,
                               std::string& name) {
    const std::string base = terminated(prefix);
    if (base.empty()) {
        return Error{ENOENT};
    }
    for (int attempt = 0; attempt < kNamingAttempts; ++attempt) {
        const std::string candidate = base + random_suffix();
        const int fd =
            ::openat(fd_of(directory.handle()), candidate.c_str(),
                     O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, kNewFileMode);
        if (fd >= 0) {
            file = File{fd};
            name = candidate;
            return success();
        }
        if (errno != EEXIST) {
            return last_error();
        }
    }
    return Error{EEXIST};
}

Error rename_in(const Directory& directory, std::string_view from, std::string_view to) {
    const std::string source = terminated(from);
    const std::string target = terminated(to);
    if (source.empty() || target.empty()) {
        return Error{ENOENT};
    }
    const int dir = fd_of(directory.handle());
    return ::renameat(dir, source.c_str(), dir, target.c_str()) == 0 ? success() : last_error();
}

Error remove_in(const Directory& directory, std::string_view name) {
    const std::string entry = terminated(name);
    if (entry.empty()) {
        return Error{ENOENT};
    }
    return ::unlinkat(fd_of(directory.handle()), entry.c_str(), 0) == 0 ? success() : last_error();
}

Error info_of_entry(const Directory& directory, std::string_view name, FileInfo& info) {
    const std::string entry = terminated(name);
    struct stat status {};
    if (entry.empty()) {
        return Error{ENOENT};
    }
    if (::fstatat(fd_of(directory.handle()), entry.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return last_error();
    }
    info = info_from(status);
    return success();
}

Error names_in(const Directory& directory, std::vector<std::string>& names) {
    // Its own descriptor: closedir() closes what fdopendir() was given.
    const int fd = ::openat(fd_of(directory.handle()), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return last_error();
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(fd), ::closedir);
    if (!listing) {
        const Error error = last_error();
        ::close(fd);
        return error;
    }
    names.clear();
    errno = 0;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    return errno != 0 ? last_error() : success();
}

Error sync(const Directory& directory) {
    const Error synced = sync(directory.handle());
    // Some filesystems cannot flush a directory; its entry is then as safe as they make it.
    return synced.unsupported() ? success() : synced;
}

Error sync_directory(std::string_view directory) {
    File handle;
    if (const Error opened = open_with(directory, O_RDONLY | O_DIRECTORY, handle);
        opened.failed()) {
        return opened;
    }
    const Error synced = sync(handle);
    // Some filesystems cannot flush a directory; its entry is then as safe as they make it.
    return synced.unsupported() ? success() : synced;
}

Error remove_file(std::string_view path) {
    const std::string name = terminated(path);
    if (name.empty()) {
        return Error{ENOENT};
    }
    return ::unlink(name.c_str()) == 0 ? success() : last_error();
}

Error make_directory(std::string_view path) {
    const std::string name = terminated(path);
    if (name.empty()) {
        return Error{ENOENT};
    }
    return ::mkdir(name.c_str(), 0777) == 0 ? success() : last_error();
}

} // namespace platform
