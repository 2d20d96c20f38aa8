#include "platform/posix_internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <sys/resource.h>
#include <unistd.h>

namespace platform {

namespace detail {

Error open_with(std::string_view path, int flags, File& file, mode_t mode) {
    const std::string name = terminated(path);
    if (name.empty()) {
        return Error{ENOENT};
    }
    int fd = -1;
    do {
        fd = ::open(name.c_str(), flags | O_CLOEXEC | O_NOCTTY, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return last_error();
    }
    file = File{fd};
    return success();
}

FileKind kind_of(mode_t mode) {
    if (S_ISREG(mode)) {
        return FileKind::regular;
    }
    if (S_ISFIFO(mode) || S_ISSOCK(mode)) {
        return FileKind::stream;
    }
    return S_ISDIR(mode) ? FileKind::directory : FileKind::other;
}

FileInfo info_from(const struct stat& status) {
    FileInfo info;
    info.kind = kind_of(status.st_mode);
    info.identity = {static_cast<std::uint64_t>(status.st_dev),
                     static_cast<std::uint64_t>(status.st_ino)};
    info.size = static_cast<std::uint64_t>(status.st_size);
    info.permissions = static_cast<std::uint32_t>(status.st_mode & 07777);
    info.owner = status.st_uid;
    info.group = status.st_gid;
    return info;
}

} // namespace detail

using namespace detail;

namespace {

// stat or lstat of a name: whether a link is followed is the only difference.
Error info_by_name(std::string_view path, int (*examine)(const char*, struct stat*),
                   FileInfo& info) {
    const std::string name = terminated(path);
    struct stat status {};
    if (name.empty()) {
        return Error{ENOENT};
    }
    if (examine(name.c_str(), &status) != 0) {
        return last_error();
    }
    info = info_from(status);
    return success();
}

} // namespace

bool Error::missing() const {
    return code == ENOENT;
}

bool Error::exists() const {
    return code == EEXIST;
}

bool Error::unsupported() const {
    return code == kUnsupported;
}

bool Error::busy() const {
    return code == EWOULDBLOCK || code == EAGAIN;
}

std::string Error::reason() const {
    return std::strerror(code);
}

Error File::close() {
    if (!valid()) {
        return success();
    }
    // The descriptor is gone even when close reports EINTR, so it is never retried.
    return ::close(static_cast<int>(release())) == 0 ? success() : last_error();
}

Error open_for_reading(std::string_view path, File& file) {
    return open_with(path, O_RDONLY, file);
}

Error open_for_reading_without_waiting(std::string_view path, File& file) {
    File opened;
    if (const Error error = open_with(path, O_RDONLY | O_NONBLOCK, opened); error.failed()) {
        return error;
    }
    const int flags = ::fcntl(fd_of(opened), F_GETFL);
    if (flags < 0 || ::fcntl(fd_of(opened), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return last_error();
    }
    file = std::move(opened);
    return success();
}

Error open_existing_for_writing(std::string_view path, File& file) {
    return open_with(path, O_WRONLY, file);
}

Error open_creating(std::string_view path, File& file) {
    return open_with(path, O_WRONLY | O_CREAT, file, kNewFileMode);
}

Error create_new(std::string_view path, File& file) {
    return open_with(path, O_WRONLY | O_CREAT | O_EXCL, file, kNewFileMode);
}

Error open_appending(std::string_view path, File& file) {
    // Read as well, to mend a torn last line; but never a FIFO's own reader, which
    // would hold every line it writes: a FIFO is opened to write only, waiting for
    // its reader as it always has.
    File opened;
    Error error = open_with(path, O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK, opened, kNewFileMode);
    if (error.code == EACCES) {
        // A file this user may write but not read still takes lines.
        error = open_with(path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK, opened, kNewFileMode);
    }
    if (error.failed() && error.code != ENXIO) {
        return error;
    }
    struct stat status {};
    if (error.code == ENXIO || (::fstat(fd_of(opened), &status) == 0 && S_ISFIFO(status.st_mode))) {
        opened.close();
        return open_with(path, O_WRONLY | O_APPEND, file);
    }
    const int flags = ::fcntl(fd_of(opened), F_GETFL);
    if (flags < 0 || ::fcntl(fd_of(opened), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return last_error();
    }
    file = std::move(opened);
    return success();
}

bool is_link(std::string_view path) {
    const std::string name = terminated(path);
    struct stat status {};
    return !name.empty() && ::lstat(name.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

Error may_write(std::string_view path) {
    const std::string name = terminated(path);
    if (name.empty()) {
        return Error{ENOENT};
    }
    struct stat status {};
    if (::stat(name.c_str(), &status) != 0) {
        return last_error();
    }
    const int wanted = S_ISDIR(status.st_mode) ? W_OK | X_OK : W_OK;
    return ::faccessat(AT_FDCWD, name.c_str(), wanted, AT_EACCESS) == 0 ? success() : last_error();
}

Error may_replace_in(std::string_view directory, std::string_view name) {
    if (const Error writable = may_write(directory); writable.failed()) {
        return writable;
    }
    const std::string folder = terminated(directory);
    const std::string entry = terminated(joined_path(directory, name));
    struct stat dir {};
    struct stat target {};
    if (::stat(folder.c_str(), &dir) != 0 || (dir.st_mode & S_ISVTX) == 0 ||
        ::lstat(entry.c_str(), &target) != 0) {
        return success();
    }
    const uid_t user = ::geteuid();
    const bool allowed = user == 0 || user == dir.st_uid || user == target.st_uid;
    return allowed ? success() : Error{EPERM};
}

Error rename_refusal_of_directory() {
    return Error{EISDIR};
}

Error may_create(std::string_view path) {
    const std::string name = terminated(path);
    struct stat status {};
    if (name.empty()) {
        return Error{ENOENT};
    }
    if (::lstat(name.c_str(), &status) == 0) {
        return Error{EEXIST};
    }
    return may_write(directory_of(path));
}

Error info_of(const File& file, FileInfo& info) {
    struct stat status {};
    if (::fstat(fd_of(file), &status) != 0) {
        return last_error();
    }
    info = info_from(status);
    return success();
}

Error info_of_path(std::string_view path, FileInfo& info) {
    return info_by_name(path, ::stat, info);
}

Error info_of_name(std::string_view path, FileInfo& info) {
    return info_by_name(path, ::lstat, info);
}

Error info_of_standard_output(FileInfo& info) {
    struct stat status {};
    if (::fstat(STDOUT_FILENO, &status) != 0) {
        return last_error();
    }
    info = info_from(status);
    return success();
}

Error link_target(std::string_view path, std::string& target) {
    const std::string name = terminated(path);
    if (name.empty()) {
        return Error{ENOENT};
    }
    std::string found(PATH_MAX, '\0');
    const ssize_t length = ::readlink(name.c_str(), found.data(), found.size());
    if (length < 0) {
        return last_error();
    }
    found.resize(static_cast<std::size_t>(length));
    target = found;
    return success();
}

Error seekable_length(const File& file, std::uint64_t& length) {
    const off_t end = ::lseek(fd_of(file), 0, SEEK_END);
    if (end < 0) {
        return last_error();
    }
    length = static_cast<std::uint64_t>(end);
    return ::lseek(fd_of(file), 0, SEEK_SET) == 0 ? success() : last_error();
}

Error resolved_path(std::string_view path, std::string& resolved) {
    const std::string name = terminated(path);
    if (name.empty()) {
        return Error{ENOENT};
    }
    char* absolute = ::realpath(name.c_str(), nullptr);
    if (absolute == nullptr) {
        return last_error();
    }
    resolved = absolute;
    std::free(absolute);
    return success();
}

} // namespace platform
