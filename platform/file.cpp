// What a file handle and a path are, the same on every platform.
#include "platform/platform.h"

namespace platform {

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.release();
    }
    return *this;
}

File::~File() {
    close();
}

NativeHandle File::release() {
    const NativeHandle handle = handle_;
    handle_ = kNoHandle;
    return handle;
}

bool names_a_file(std::string_view path) {
    return !path.empty() && path.find('\0') == std::string_view::npos;
}

} // namespace platform
