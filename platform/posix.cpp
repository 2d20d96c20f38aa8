#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <optional>
#include <random>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Linux's unnamed temporary files and in-kernel copies; elsewhere, and in the
// portable build, the named file and the block copy take their place.
#if defined(__linux__) && !defined(FWBFORGE2_PORTABLE_POSIX)
constexpr bool kHasUnnamedFiles = true;
constexpr bool kHasKernelCopy = true;
#else
constexpr bool kHasUnnamedFiles = false;
constexpr bool kHasKernelCopy = false;
#endif

constexpr int kUnsupported = EOPNOTSUPP;
constexpr mode_t kNewFileMode = 0666;
constexpr std::size_t kKernelCopyRequest = std::size_t{1} << 30;
constexpr int kNamingAttempts = 100;

std::string random_suffix() {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::random_device source;
    std::string suffix(6, '\0');
    for (char& letter : suffix) {
        letter = kLetters[source() % (sizeof kLetters - 1)];
    }
    return suffix;
}

int fd_of(const File& file) {
    return static_cast<int>(file.handle());
}

Error last_error() {
    return Error{errno};
}

Error success() {
    return Error{};
}

// A terminated C string of path; empty when the path names no file.
std::string terminated(std::string_view path) {
    return names_a_file(path) ? std::string(path) : std::string();
}

Error open_with(std::string_view path, int flags, File& file, mode_t mode = 0) {
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

// Reads (at offset, or from the file's position) until buffer is full or the file ends.
Error transfer_fully(const File& file, std::optional<std::uint64_t> offset,
                     std::span<std::uint8_t> buffer, std::size_t& got) {
    got = 0;
    while (got < buffer.size()) {
        std::uint8_t* into = buffer.data() + got;
        const std::size_t wanted = buffer.size() - got;
        const ssize_t count =
            offset ? ::pread(fd_of(file), into, wanted, static_cast<off_t>(*offset + got))
                   : ::read(fd_of(file), into, wanted);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return last_error();
        }
        if (count == 0) {
            break;
        }
        got += static_cast<std::size_t>(count);
    }
    return success();
}

// Writes every byte (at offset, or at the file's position); a write that moves
// nothing is an error, not a reason to spin.
Error write_fully(const File& file, std::optional<std::uint64_t> offset,
                  std::span<const std::uint8_t> bytes) {
    std::uint64_t done = 0;
    while (done < bytes.size()) {
        const std::uint8_t* from = bytes.data() + done;
        const std::size_t left = bytes.size() - static_cast<std::size_t>(done);
        const ssize_t written =
            offset ? ::pwrite(fd_of(file), from, left, static_cast<off_t>(*offset + done))
                   : ::write(fd_of(file), from, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            return last_error();
        }
        if (written == 0) {
            return Error{EIO};
        }
        done += static_cast<std::uint64_t>(written);
    }
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

// The names a signal handler removes, each set and cleared with the signals
// blocked, so the handler, which may not allocate, only reads them.
struct PendingRemoval {
    int directory = -1;
    char* name = nullptr;
};
PendingRemoval pending_removals[kRemovalSlots] = {};
constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void remove_pending_and_die(int signal) {
    for (const PendingRemoval& removal : pending_removals) {
        if (removal.name != nullptr) {
            ::unlinkat(removal.directory, removal.name, 0);
        }
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

void install_termination_handlers() {
    struct sigaction action {};
    action.sa_handler = remove_pending_and_die;
    ::sigemptyset(&action.sa_mask);
    for (const int signal : kTerminationSignals) {
        ::sigaddset(&action.sa_mask, signal);
    }
    for (const int signal : kTerminationSignals) {
        struct sigaction previous {};
        ::sigaction(signal, nullptr, &previous);
        // A signal the caller chose to ignore stays ignored.
        if (previous.sa_handler != SIG_IGN) {
            ::sigaction(signal, &action, nullptr);
        }
    }
}

sigset_t termination_signals() {
    sigset_t set;
    ::sigemptyset(&set);
    for (const int signal : kTerminationSignals) {
        ::sigaddset(&set, signal);
    }
    return set;
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

Error path_of(const File& file, std::string& path) {
#if defined(F_GETPATH)
    char found[PATH_MAX];
    if (::fcntl(fd_of(file), F_GETPATH, found) != 0) {
        return last_error();
    }
    path = found;
    return success();
#elif defined(__linux__) && !defined(FWBFORGE2_PORTABLE_POSIX)
    const std::string self = "/proc/self/fd/" + std::to_string(fd_of(file));
    std::string found(PATH_MAX, '\0');
    const ssize_t length = ::readlink(self.c_str(), found.data(), found.size());
    if (length < 0) {
        return last_error();
    }
    if (static_cast<std::size_t>(length) >= found.size() || found.front() != '/') {
        return Error{kUnsupported};
    }
    found.resize(static_cast<std::size_t>(length));
    path = found;
    return success();
#else
    (void)file;
    (void)path;
    return Error{kUnsupported};
#endif
}

Error read_fully(const File& file, std::span<std::uint8_t> buffer, std::size_t& got) {
    return transfer_fully(file, std::nullopt, buffer, got);
}

Error read_fully_at(const File& file, std::uint64_t offset, std::span<std::uint8_t> buffer,
                    std::size_t& got) {
    return transfer_fully(file, offset, buffer, got);
}

Error read_some(const File& file, std::span<char> buffer, std::size_t& got) {
    ssize_t count = 0;
    do {
        count = ::read(fd_of(file), buffer.data(), buffer.size());
    } while (count < 0 && errno == EINTR);
    got = count > 0 ? static_cast<std::size_t>(count) : 0;
    return count < 0 ? last_error() : success();
}

Error write_all(const File& file, std::span<const std::uint8_t> bytes) {
    return write_fully(file, std::nullopt, bytes);
}

Error write_all_at(const File& file, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    return write_fully(file, offset, bytes);
}

Error seek_to(const File& file, std::uint64_t offset) {
    const auto target = static_cast<off_t>(offset);
    return ::lseek(fd_of(file), target, SEEK_SET) == target ? success() : last_error();
}

Error truncate(const File& file, std::uint64_t length) {
    return ::ftruncate(fd_of(file), static_cast<off_t>(length)) == 0 ? success() : last_error();
}

Error lock_exclusive(const File& file) {
    int result = 0;
    do {
        result = ::flock(fd_of(file), LOCK_EX);
    } while (result != 0 && errno == EINTR);
    return result == 0 ? success() : last_error();
}

Error unlock(const File& file) {
    return ::flock(fd_of(file), LOCK_UN) == 0 ? success() : last_error();
}

Error kernel_copy(const File& in, std::uint64_t inOffset, const File& out, std::uint64_t outOffset,
                  std::uint64_t count, std::uint64_t& copied) {
    copied = 0;
    if (!kHasKernelCopy) {
        return Error{kUnsupported};
    }
#if defined(__linux__) && !defined(FWBFORGE2_PORTABLE_POSIX)
    auto from = static_cast<off_t>(inOffset);
    auto to = static_cast<off_t>(outOffset);
    while (copied < count) {
        const std::size_t request =
            static_cast<std::size_t>(std::min<std::uint64_t>(count - copied, kKernelCopyRequest));
        const ssize_t moved = ::copy_file_range(fd_of(in), &from, fd_of(out), &to, request, 0);
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        if (moved < 0) {
            const int code = errno;
            // Nothing moved yet: the pair allows no kernel copy, and blocks will do.
            const bool refused = copied == 0 && (code == EXDEV || code == EINVAL ||
                                                 code == EOPNOTSUPP || code == ENOSYS);
            return Error{refused ? kUnsupported : code};
        }
        if (moved == 0) {
            break;
        }
        copied += static_cast<std::uint64_t>(moved);
    }
    return success();
#else
    (void)in;
    (void)inOffset;
    (void)out;
    (void)outOffset;
    (void)count;
    (void)kKernelCopyRequest;
    return Error{kUnsupported};
#endif
}

Error sync(const File& file) {
#if defined(F_FULLFSYNC)
    // fsync alone leaves the data in the drive's cache on these systems.
    if (::fcntl(fd_of(file), F_FULLFSYNC) == 0) {
        return success();
    }
#endif
    int result = 0;
    do {
        result = ::fsync(fd_of(file));
    } while (result != 0 && errno == EINTR);
    if (result != 0 && errno == EINVAL) {
        return Error{kUnsupported};
    }
    return result == 0 ? success() : last_error();
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

Error start_writeback(const File& file) {
#if defined(__linux__) && !defined(FWBFORGE2_PORTABLE_POSIX)
    return ::sync_file_range(fd_of(file), 0, 0, SYNC_FILE_RANGE_WRITE) == 0 ? success()
                                                                            : last_error();
#else
    (void)file;
    return Error{kUnsupported};
#endif
}

Error set_permissions(const File& file, std::uint32_t permissions) {
    return ::fchmod(fd_of(file), static_cast<mode_t>(permissions)) == 0 ? success() : last_error();
}

Error set_owner(const File& file, std::uint32_t owner, std::uint32_t group) {
    return ::fchown(fd_of(file), owner, group) == 0 ? success() : last_error();
}

Error set_group(const File& file, std::uint32_t group) {
    return ::fchown(fd_of(file), static_cast<uid_t>(-1), group) == 0 ? success() : last_error();
}

std::size_t open_files_allowed() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return SIZE_MAX;
    }
    return static_cast<std::size_t>(limit.rlim_cur);
}

std::uint32_t new_file_permissions() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<std::uint32_t>(kNewFileMode & ~mask);
}

Error Directory::open(std::string_view path) {
    path_ = std::string(path);
    return open_with(path, O_RDONLY | O_DIRECTORY, handle_);
}

Error Directory::try_lock() {
    return ::flock(fd_of(handle_), LOCK_EX | LOCK_NB) == 0 ? success() : last_error();
}

Error create_unnamed_in(const Directory& directory, File& file) {
    if (!kHasUnnamedFiles) {
        return Error{kUnsupported};
    }
#if defined(__linux__) && !defined(FWBFORGE2_PORTABLE_POSIX)
    const int fd =
        ::openat(fd_of(directory.handle()), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, kNewFileMode);
    if (fd < 0) {
        const int code = errno;
        const bool refused = code == EOPNOTSUPP || code == EISDIR || code == EINVAL;
        return Error{refused ? kUnsupported : code};
    }
    file = File{fd};
    return success();
#else
    (void)directory;
    (void)file;
    return Error{kUnsupported};
#endif
}

Error give_unique_name_in(const Directory& directory, const File& unnamed, std::string_view prefix,
                          std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_of(unnamed));
    const std::string base = terminated(prefix);
    if (base.empty()) {
        return Error{ENOENT};
    }
    for (int attempt = 0; attempt < kNamingAttempts; ++attempt) {
        const std::string candidate = base + random_suffix();
        if (::linkat(AT_FDCWD, self.c_str(), fd_of(directory.handle()), candidate.c_str(),
                     AT_SYMLINK_FOLLOW) == 0) {
            name = candidate;
            return success();
        }
        if (errno != EEXIST) {
            return last_error();
        }
    }
    return Error{EEXIST};
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
                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, kNewFileMode);
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

Error sync(const Directory& directory) {
    const Error synced = sync(directory.handle());
    // Some filesystems cannot flush a directory; its entry is then as safe as they make it.
    return synced.unsupported() ? success() : synced;
}

Error rename_replacing(std::string_view from, std::string_view to) {
    const std::string source = terminated(from);
    const std::string target = terminated(to);
    if (source.empty() || target.empty()) {
        return Error{ENOENT};
    }
    return ::rename(source.c_str(), target.c_str()) == 0 ? success() : last_error();
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

Error make_unique_directory(std::string_view prefix, std::string& path) {
    std::string name = terminated(prefix);
    if (name.empty()) {
        return Error{ENOENT};
    }
    name += "XXXXXX";
    if (::mkdtemp(name.data()) == nullptr) {
        return last_error();
    }
    path = name;
    return success();
}

std::vector<std::string> command_line_arguments(int argc, char** argv) {
    return {argv, argv + argc};
}

void use_binary_standard_streams() {}

void keep_running_on_broken_pipes_and_size_limits() {
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
}

std::size_t remove_on_termination_signal(const Directory& directory, std::string_view name) {
    static const bool installed = (install_termination_handlers(), true);
    (void)installed;
    const std::string entry = terminated(name);
    std::size_t slot = kNoRemoval;
    if (entry.empty()) {
        return slot;
    }
    const TerminationSignalsHeld held;
    for (std::size_t i = 0; i < kRemovalSlots && slot == kNoRemoval; ++i) {
        if (pending_removals[i].name == nullptr) {
            pending_removals[i] = {fd_of(directory.handle()), ::strdup(entry.c_str())};
            slot = pending_removals[i].name != nullptr ? i : kNoRemoval;
        }
    }
    return slot;
}

void forget_removal_on_termination_signal(std::size_t slot) {
    if (slot >= kRemovalSlots) {
        return;
    }
    const TerminationSignalsHeld held;
    std::free(pending_removals[slot].name);
    pending_removals[slot] = {};
}

TerminationSignalsHeld::TerminationSignalsHeld() {
    static_assert(sizeof(sigset_t) <= sizeof saved_);
    const sigset_t held = termination_signals();
    ::pthread_sigmask(SIG_BLOCK, &held, reinterpret_cast<sigset_t*>(saved_));
}

TerminationSignalsHeld::~TerminationSignalsHeld() {
    ::pthread_sigmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(saved_), nullptr);
}

void fill_closed_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            // open() takes the lowest free descriptor: this one.
            ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        }
    }
}

} // namespace platform
