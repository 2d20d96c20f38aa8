#include "platform/posix_internal.h"

#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

namespace platform {

using namespace detail;

namespace {

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

} // namespace

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

} // namespace platform
