// Linux's own calls: in-kernel copies, unnamed temporary files, the path an
// open file has, and writeback started early. CMake builds this file or
// posix_portable.cpp, never both.
#include "platform/posix_internal.h"
#include "platform/random_names.h"

#include <algorithm>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

namespace platform {

using namespace detail;

namespace {

constexpr std::size_t kKernelCopyRequest = std::size_t{1} << 30;

std::string descriptor_path(const File& file) {
    return "/proc/self/fd/" + std::to_string(fd_of(file));
}

} // namespace

Error kernel_copy(const File& in, std::uint64_t inOffset, const File& out, std::uint64_t outOffset,
                  std::uint64_t count, std::uint64_t& copied) {
    copied = 0;
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
}

Error create_unnamed_in(const Directory& directory, File& file) {
    const int fd =
        ::openat(fd_of(directory.handle()), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, kNewFileMode);
    if (fd < 0) {
        const int code = errno;
        const bool refused = code == EOPNOTSUPP || code == EISDIR || code == EINVAL;
        return Error{refused ? kUnsupported : code};
    }
    file = File{fd};
    return success();
}

Error give_unique_name_in(const Directory& directory, const File& unnamed, std::string_view prefix,
                          std::string& name) {
    const std::string self = descriptor_path(unnamed);
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

Error path_of(const File& file, std::string& path) {
    std::string found(PATH_MAX, '\0');
    const ssize_t length = ::readlink(descriptor_path(file).c_str(), found.data(), found.size());
    if (length < 0) {
        return last_error();
    }
    if (static_cast<std::size_t>(length) >= found.size() || found.front() != '/') {
        return Error{kUnsupported};
    }
    found.resize(static_cast<std::size_t>(length));
    path = found;
    return success();
}

Error start_writeback(const File& file) {
    return ::sync_file_range(fd_of(file), 0, 0, SYNC_FILE_RANGE_WRITE) == 0 ? success()
                                                                            : last_error();
}

} // namespace platform
