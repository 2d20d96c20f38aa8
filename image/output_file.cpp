#include "image/output_file.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <optional>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxSymlinkHops = 40;
constexpr mode_t kNewFileMode = 0666;
constexpr std::string_view kTemporaryName = "/.fwbforge2-XXXXXX";

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::optional<std::string> read_link(const std::string& path) {
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
        return std::nullopt;
    }
    target.resize(static_cast<std::size_t>(length));
    return target;
}

// Follows symbolic links so that the link stays and its target is replaced.
std::optional<std::string> final_target(std::string path) {
    for (int hop = 0; hop < kMaxSymlinkHops; ++hop) {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return path;
        }
        std::optional<std::string> target = read_link(path);
        if (!target || target->empty()) {
            return std::nullopt;
        }
        path = target->front() == '/' ? *target : directory_of(path) + "/" + *target;
    }
    return std::nullopt;
}

mode_t new_file_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return kNewFileMode & ~mask;
}

// Swapping the two names, then removing the old file, replaces the output as
// atomically as a rename over it, without the forced writeback that a rename
// over an existing file sets off on ext4 (it cost more than the whole copy).
bool put_in_place(const std::string& temporary, const std::string& target) {
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
        ::unlink(temporary.c_str());
        return true;
    }
    return ::rename(temporary.c_str(), target.c_str()) == 0;
}

} // namespace

OutputFile::~OutputFile() {
    remove_temporary();
}

void OutputFile::remove_temporary() {
    if (temporary_path_.empty()) {
        return;
    }
    fd_.close();
    ::unlink(temporary_path_.c_str());
    temporary_path_.clear();
}

bool OutputFile::create(std::string_view path) {
    if (!names_a_file(path)) {
        return false;
    }
    const std::optional<std::string> target = final_target(std::string(path));
    if (!target) {
        return false;
    }
    target_path_ = *target;
    struct stat existing {};
    const bool exists = ::stat(target_path_.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        fd_ = UniqueFd{::open(target_path_.c_str(), O_WRONLY | O_CLOEXEC)};
        return fd_.valid();
    }
    std::string name = directory_of(target_path_) + std::string(kTemporaryName);
    UniqueFd temporary{::mkostemp(name.data(), O_CLOEXEC)};
    if (!temporary.valid()) {
        return false;
    }
    temporary_path_ = name;
    fd_ = std::move(temporary);
    const mode_t mode = exists ? existing.st_mode & 07777 : new_file_mode();
    return ::fchmod(fd_.get(), mode) == 0;
}

bool OutputFile::commit() {
    if (!fd_.close()) {
        return false;
    }
    if (temporary_path_.empty()) {
        return true;
    }
    if (!put_in_place(temporary_path_, target_path_)) {
        return false;
    }
    temporary_path_.clear();
    return true;
}

bool names_file(std::string_view path, dev_t device, ino_t inode) {
    if (!names_a_file(path)) {
        return false;
    }
    struct stat status {};
    return ::stat(std::string(path).c_str(), &status) == 0 && status.st_dev == device &&
           status.st_ino == inode;
}
