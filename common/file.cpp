#include "common/file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    close();
}

int UniqueFd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

bool UniqueFd::close() {
    if (fd_ < 0) {
        return true;
    }
    const int result = ::close(release());
    return result == 0;
}

bool names_a_file(std::string_view path) {
    return !path.empty() && path.find('\0') == std::string_view::npos;
}

UniqueFd open_for_reading(std::string_view path) {
    if (!names_a_file(path)) {
        return UniqueFd{};
    }
    const std::string terminated(path);
    return UniqueFd{::open(terminated.c_str(), O_RDONLY | O_CLOEXEC)};
}

MappedFile::~MappedFile() {
    if (!bytes_.empty()) {
        ::munmap(const_cast<std::uint8_t*>(bytes_.data()), bytes_.size());
    }
}

bool MappedFile::open(std::string_view path) {
    const UniqueFd fd = open_for_reading(path);
    struct stat status {};
    if (!fd.valid() || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return false;
    }
    const auto length = static_cast<std::size_t>(status.st_size);
    if (length == 0) {
        return true;
    }
    void* mapped = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd.get(), 0);
    if (mapped == MAP_FAILED) {
        return false;
    }
    bytes_ = std::span(static_cast<const std::uint8_t*>(mapped), length);
    return true;
}
