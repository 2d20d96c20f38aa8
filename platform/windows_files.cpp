#include "platform/windows_internal.h"

// clang-format off
#include <windows.h>
#include <fcntl.h>
#include <io.h>
// clang-format on

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace platform {

namespace detail {

std::wstring widened(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int length =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
    return wide;
}

std::string narrowed(std::wstring_view wide) {
    if (wide.empty()) {
        return {};
    }
    const int size = static_cast<int>(wide.size());
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
    return text;
}

bool is_extended_or_device(std::wstring_view path) {
    return path.starts_with(kExtendedPrefix) || path.starts_with(kDevicePrefix);
}

std::wstring extended(const std::wstring& path) {
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return path;
    }
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    full.resize(length);
    if (full.starts_with(L"\\\\")) {
        return std::wstring(kExtendedUncPrefix) + full.substr(2);
    }
    return std::wstring(kExtendedPrefix) + full;
}

std::wstring native(std::string_view path) {
    if (!names_a_file(path)) {
        return {};
    }
    std::wstring wide = widened(path);
    if (wide.empty() || wide.size() <= kLongestPlainPath || is_extended_or_device(wide)) {
        return wide;
    }
    return extended(wide);
}

Error open_with(std::string_view path, DWORD access, DWORD disposition, File& file, DWORD flags,
                DWORD share) {
    const std::wstring name = native(path);
    if (name.empty()) {
        return Error{ERROR_FILE_NOT_FOUND};
    }
    const HANDLE handle =
        ::CreateFileW(name.c_str(), access, share, nullptr, disposition, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return last_error();
    }
    file = File{reinterpret_cast<NativeHandle>(handle)};
    return success();
}

bool is_disk_file(const File& file) {
    return ::GetFileType(handle_of(file)) == FILE_TYPE_DISK;
}

// The permission bits Windows has: everything, less writing for a read-only file.
std::uint32_t permissions_of(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? kReadOnlyPermissions : kNewFilePermissions;
}

Error info_of_disk_file(HANDLE handle, FileInfo& info) {
    BY_HANDLE_FILE_INFORMATION details{};
    if (::GetFileInformationByHandle(handle, &details) == 0) {
        return last_error();
    }
    const bool directory = (details.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.kind = directory ? FileKind::directory : FileKind::regular;
    info.identity = {details.dwVolumeSerialNumber,
                     std::uint64_t{details.nFileIndexHigh} << 32 | details.nFileIndexLow};
    info.size = std::uint64_t{details.nFileSizeHigh} << 32 | details.nFileSizeLow;
    info.permissions = permissions_of(details.dwFileAttributes);
    return success();
}

Error info_of_handle(HANDLE handle, FileInfo& info) {
    ::SetLastError(NO_ERROR);
    const DWORD type = ::GetFileType(handle);
    if (type == FILE_TYPE_UNKNOWN && ::GetLastError() != NO_ERROR) {
        return last_error();
    }
    if (type != FILE_TYPE_DISK) {
        // A console, the null device or a pipe: no identity or size to speak of.
        info = FileInfo{};
        info.kind = type == FILE_TYPE_PIPE ? FileKind::stream : FileKind::other;
        return success();
    }
    return info_of_disk_file(handle, info);
}

std::string plain_form(std::wstring path) {
    if (path.starts_with(kExtendedUncPrefix) && path.size() <= kLongestPlainPath) {
        path = L"\\\\" + path.substr(kExtendedUncPrefix.size());
    } else if (path.starts_with(kExtendedPrefix) &&
               path.size() - kExtendedPrefix.size() <= kLongestPlainPath) {
        path = path.substr(kExtendedPrefix.size());
    }
    return narrowed(path);
}

} // namespace detail

using namespace detail;

bool Error::missing() const {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

bool Error::exists() const {
    return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
}

bool Error::unsupported() const {
    return code == kUnsupported;
}

bool Error::busy() const {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

std::string Error::reason() const {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length == 0) {
        return "error " + std::to_string(code);
    }
    std::wstring wide(text, length);
    ::LocalFree(text);
    // One line, ending as the other reasons do: no period, no line end.
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ' ||
                             wide.back() == L'.')) {
        wide.pop_back();
    }
    return narrowed(wide);
}

Error File::close() {
    if (!valid()) {
        return success();
    }
    return ::CloseHandle(reinterpret_cast<HANDLE>(release())) != 0 ? success() : last_error();
}

Error open_for_reading(std::string_view path, File& file) {
    return open_with(path, GENERIC_READ, OPEN_EXISTING, file);
}

// Opening a pipe here never waits: it connects to a server or fails.
Error open_for_reading_without_waiting(std::string_view path, File& file) {
    return open_for_reading(path, file);
}

// A read-only file or a directory is refused with access denied. The read-only
// attribute is checked here too, for systems that emulate it (wine run by root).
Error open_existing_for_writing(std::string_view path, File& file) {
    File opened;
    if (const Error error = open_with(path, GENERIC_WRITE, OPEN_EXISTING, opened); error.failed()) {
        return error;
    }
    BY_HANDLE_FILE_INFORMATION details{};
    if (is_disk_file(opened) && ::GetFileInformationByHandle(handle_of(opened), &details) != 0 &&
        (details.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return Error{ERROR_ACCESS_DENIED};
    }
    file = std::move(opened);
    return success();
}

Error open_creating(std::string_view path, File& file) {
    return open_with(path, GENERIC_WRITE, OPEN_ALWAYS, file);
}

Error create_new(std::string_view path, File& file) {
    return open_with(path, GENERIC_WRITE, CREATE_NEW, file);
}

// Writes land where the caller puts them; the caller appends under lock_exclusive().
Error open_appending(std::string_view path, File& file) {
    return open_with(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, file);
}

// Permissions are access lists here; only the read-only attribute is checked.
Error may_write(std::string_view path) {
    const std::wstring name = native(path);
    if (name.empty()) {
        return Error{ERROR_FILE_NOT_FOUND};
    }
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // Creating something inside a missing directory is refused with the path's error.
        const Error error = last_error();
        return error.code == ERROR_FILE_NOT_FOUND ? Error{ERROR_PATH_NOT_FOUND} : error;
    }
    const bool readOnlyFile =
        (attributes & FILE_ATTRIBUTE_READONLY) != 0 && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    return readOnlyFile ? Error{ERROR_ACCESS_DENIED} : success();
}

// No sticky directories here: a writable folder is the whole rule.
Error may_replace_in(std::string_view directory, std::string_view) {
    return may_write(directory);
}

Error rename_refusal_of_directory() {
    return Error{ERROR_ACCESS_DENIED};
}

Error may_create(std::string_view path) {
    FileInfo info;
    if (!info_of_name(path, info).failed()) {
        return Error{ERROR_ALREADY_EXISTS};
    }
    return may_write(directory_of(path));
}

bool is_link(std::string_view path) {
    const std::wstring name = native(path);
    if (name.empty()) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

Error info_of(const File& file, FileInfo& info) {
    return info_of_handle(handle_of(file), info);
}

Error info_of_path(std::string_view path, FileInfo& info) {
    File file;
    // No access asked: the attributes can be read of any file, even one open elsewhere.
    if (const Error opened = open_with(path, 0, OPEN_EXISTING, file, FILE_FLAG_BACKUP_SEMANTICS);
        opened.failed()) {
        return opened;
    }
    return info_of(file, info);
}

// Links are not followed into: the name's own file, as opened with its reparse point.
Error info_of_name(std::string_view path, FileInfo& info) {
    File file;
    if (const Error opened = open_with(path, 0, OPEN_EXISTING, file,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
        opened.failed()) {
        return opened;
    }
    return info_of(file, info);
}

Error info_of_standard_output(FileInfo& info) {
    return info_of_handle(::GetStdHandle(STD_OUTPUT_HANDLE), info);
}

// Symbolic links need a privilege here; the tools keep no link semantics of their own.
Error link_target(std::string_view, std::string&) {
    return Error{kUnsupported};
}

// The name the handle was opened under is not kept apart from its links here.
Error path_of(const File&, std::string&) {
    return Error{kUnsupported};
}

Error seekable_length(const File& file, std::uint64_t& length) {
    if (!is_disk_file(file)) {
        return Error{ERROR_INVALID_FUNCTION};
    }
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(handle_of(file), &size) == 0) {
        return last_error();
    }
    length = static_cast<std::uint64_t>(size.QuadPart);
    return success();
}

Error full_path(std::string_view path, std::string& resolved) {
    const std::wstring name = native(path);
    const DWORD needed = ::GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return last_error();
    }
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(name.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {
        return last_error();
    }
    full.resize(length);
    resolved = plain_form(full);
    return success();
}

Error resolved_path(std::string_view path, std::string& resolved) {
    File file;
    if (const Error opened = open_with(path, 0, OPEN_EXISTING, file, FILE_FLAG_BACKUP_SEMANTICS);
        opened.failed()) {
        return opened;
    }
    // Room for the longest path there is, rather than asking for the size first.
    std::wstring name(kLongestPath, L'\0');
    const DWORD length = ::GetFinalPathNameByHandleW(handle_of(file), name.data(), kLongestPath,
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= kLongestPath) {
        // Some systems (wine) name no long path by its handle: the absolute
        // name, links unresolved, still reaches the same file.
        return full_path(path, resolved);
    }
    name.resize(length);
    resolved = plain_form(name);
    return success();
}

} // namespace platform
