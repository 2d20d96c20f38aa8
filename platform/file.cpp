// What a file handle and a path are, the same on every platform.
#include "platform/platform.h"
#include "platform/random_names.h"

#include <random>

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

std::optional<FileIdentity> identity_of(std::string_view path) {
    FileInfo info;
    // Windows tells no identity of a pipe or console apart.
    if (info_of_path(path, info).failed() || info.identity == FileIdentity{}) {
        return std::nullopt;
    }
    return info.identity;
}

namespace {

bool is_separator(char c) {
    return kPathSeparators.find(c) != std::string_view::npos;
}

} // namespace

std::string directory_of(std::string_view path) {
    const std::size_t slash = path.find_last_of(kPathSeparators);
    if (slash == std::string_view::npos) {
        return ".";
    }
    const bool root = slash == 0 || path[slash - 1] == ':';
    return std::string(path.substr(0, root ? slash + 1 : slash));
}

std::string last_name_of(std::string_view path) {
    const std::size_t slash = path.find_last_of(kPathSeparators);
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string joined_path(std::string_view directory, std::string_view name) {
    std::string path(directory);
    if (path.empty() || !is_separator(path.back())) {
        path.push_back(kPathSeparators.front());
    }
    return path.append(name);
}

bool is_absolute(std::string_view path) {
    const bool drive = kPathSeparators.size() > 1 && path.size() > 2 && path[1] == ':';
    return !path.empty() && (is_separator(path[0]) || (drive && is_separator(path[2])));
}

namespace detail {

bool names_a_file(std::string_view path) {
    return !path.empty() && path.find('\0') == std::string_view::npos;
}

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

} // namespace detail

} // namespace platform
