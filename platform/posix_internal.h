#pragma once

// What the POSIX files of the platform layer share; nothing outside platform/
// includes this.
#include "platform/platform.h"
#include "platform/random_names.h"

#include <cerrno>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

namespace platform::detail {

inline constexpr int kUnsupported = EOPNOTSUPP;
inline constexpr mode_t kNewFileMode = 0666;
inline constexpr int kNamingAttempts = 100;

inline int fd_of(const File& file) {
    return static_cast<int>(file.handle());
}

inline Error last_error() {
    return Error{errno};
}

inline Error success() {
    return Error{};
}

// A terminated C string of path; empty when the path names no file.
inline std::string terminated(std::string_view path) {
    return names_a_file(path) ? std::string(path) : std::string();
}

Error open_with(std::string_view path, int flags, File& file, mode_t mode = 0);
FileInfo info_from(const struct stat& status);

} // namespace platform::detail
