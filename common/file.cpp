#include "common/file.h"

#include <fcntl.h>
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
