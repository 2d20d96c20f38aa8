#pragma once

// What the Windows files of the platform layer share; nothing outside platform/
// includes this.
#include "platform/platform.h"
#include "platform/random_names.h"

// The other system headers need windows.h before them.
// clang-format off
#include <windows.h>
// clang-format on

#include <string>
#include <string_view>

namespace platform::detail {

inline constexpr int kUnsupported = ERROR_NOT_SUPPORTED;
inline constexpr std::uint32_t kNewFilePermissions = 0666;
inline constexpr std::uint32_t kWriteBits = 0222;
inline constexpr std::uint32_t kReadOnlyPermissions = 0444;
// One ReadFile or WriteFile moves at most a DWORD's worth; a round gigabyte keeps it simple.
inline constexpr std::size_t kLargestTransfer = std::size_t{1} << 30;
inline constexpr int kNamingAttempts = 100;
// Past this length a path takes the extended form (CreateDirectoryW's limit is the lowest).
inline constexpr std::size_t kLongestPlainPath = MAX_PATH - 12;
inline constexpr DWORD kLongestPath = 32768;
inline constexpr std::wstring_view kExtendedPrefix = L"\\\\?\\";
inline constexpr std::wstring_view kExtendedUncPrefix = L"\\\\?\\UNC\\";
inline constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

inline HANDLE handle_of(const File& file) {
    return reinterpret_cast<HANDLE>(file.handle());
}

inline Error last_error() {
    return Error{static_cast<int>(::GetLastError())};
}

inline Error success() {
    return Error{};
}

std::wstring widened(std::string_view text);
std::string narrowed(std::wstring_view wide);
// The extended form of a long path: absolute, backslashes only, no . or .. left.
std::wstring extended(const std::wstring& path);
// The path as the wide API takes it, or empty when it names no file (a NUL
// byte, text that is not UTF-8).
std::wstring native(std::string_view path);
Error open_with(std::string_view path, DWORD access, DWORD disposition, File& file,
                DWORD flags = FILE_ATTRIBUTE_NORMAL, DWORD share = kShareAll);
bool is_disk_file(const File& file);
Error info_of_handle(HANDLE handle, FileInfo& info);
// The system's extended prefixes dropped where the plain form names the same file.
std::string plain_form(std::wstring path);
// Puts from in place of to in one step: to is replaced whole or not at all.
Error rename_replacing(std::string_view from, std::string_view to);

} // namespace platform::detail
