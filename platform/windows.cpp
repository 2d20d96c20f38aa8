#include "platform/platform.h"

// The other system headers need windows.h before them.
// clang-format off
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace platform {

namespace {

constexpr int kUnsupported = ERROR_NOT_SUPPORTED;
constexpr std::uint32_t kNewFilePermissions = 0666;
constexpr std::uint32_t kWriteBits = 0222;
constexpr std::uint32_t kReadOnlyPermissions = 0444;
// One ReadFile or WriteFile moves at most a DWORD's worth; a round gigabyte keeps it simple.
constexpr std::size_t kLargestTransfer = std::size_t{1} << 30;
constexpr int kNamingAttempts = 100;
// Another process's handle on the target (a run checking it, a virus scanner) refuses
// the replacement for a moment, where a POSIX rename would not wait.
constexpr int kRenameAttempts = 300;
constexpr DWORD kRenamePauseMs = 10;
// FileRenameInfoEx, which this toolchain declares only for a later system version.
constexpr auto kRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
// Past this length a path takes the extended form (CreateDirectoryW's limit is the lowest).
constexpr std::size_t kLongestPlainPath = MAX_PATH - 12;
constexpr DWORD kLongestPath = 32768;
constexpr std::wstring_view kExtendedPrefix = L"\\\\?\\";
constexpr std::wstring_view kExtendedUncPrefix = L"\\\\?\\UNC\\";
constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What the process ends with on Ctrl-C, as the system's own handler ends it.
constexpr UINT kInterruptedStatus = 0xC000013A;

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

HANDLE handle_of(const File& file) {
    return reinterpret_cast<HANDLE>(file.handle());
}

Error last_error() {
    return Error{static_cast<int>(::GetLastError())};
}

Error success() {
    return Error{};
}

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

// The extended form of a long path: absolute, backslashes only, no . or .. left.
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

// The path as the wide API takes it, or empty when it names no file (a NUL
// byte, text that is not UTF-8).
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

Error open_with(std::string_view path, DWORD access, DWORD disposition, File& file,
                DWORD flags = FILE_ATTRIBUTE_NORMAL, DWORD share = kShareAll) {
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

OVERLAPPED at_offset(std::uint64_t offset) {
    OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<DWORD>(offset);
    overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return overlapped;
}

DWORD transfer_size(std::size_t remaining) {
    return static_cast<DWORD>(std::min(remaining, kLargestTransfer));
}

// A pipe whose writer has gone reads as ended, like a POSIX pipe.
bool is_end_of_input(DWORD code) {
    return code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF;
}

Error read_once(HANDLE handle, std::uint8_t* bytes, std::size_t size, OVERLAPPED* offset,
                std::size_t& got) {
    DWORD count = 0;
    got = 0;
    if (::ReadFile(handle, bytes, transfer_size(size), &count, offset) == 0) {
        const DWORD code = ::GetLastError();
        return is_end_of_input(code) ? success() : Error{static_cast<int>(code)};
    }
    got = count;
    return success();
}

// Reads (at offset, or from the file's position) until buffer is full or the file ends.
Error read_until_full(HANDLE handle, std::optional<std::uint64_t> offset,
                      std::span<std::uint8_t> buffer, std::size_t& got) {
    got = 0;
    while (got < buffer.size()) {
        OVERLAPPED overlapped = at_offset(offset.value_or(0) + got);
        std::size_t count = 0;
        if (const Error error = read_once(handle, buffer.data() + got, buffer.size() - got,
                                          offset ? &overlapped : nullptr, count);
            error.failed()) {
            return error;
        }
        if (count == 0) {
            break;
        }
        got += count;
    }
    return success();
}

std::optional<LARGE_INTEGER> position_of(HANDLE handle) {
    LARGE_INTEGER position{};
    if (::SetFilePointerEx(handle, LARGE_INTEGER{}, &position, FILE_CURRENT) == 0) {
        return std::nullopt;
    }
    return position;
}

// A read or write at an offset moves a synchronous handle's position; this puts it back.
class PositionKept {
  public:
    explicit PositionKept(HANDLE handle) : handle_(handle), position_(position_of(handle)) {}
    PositionKept(const PositionKept&) = delete;
    PositionKept& operator=(const PositionKept&) = delete;
    ~PositionKept() {
        if (position_) {
            ::SetFilePointerEx(handle_, *position_, nullptr, FILE_BEGIN);
        }
    }

  private:
    HANDLE handle_;
    std::optional<LARGE_INTEGER> position_;
};

Error write_from(HANDLE handle, std::span<const std::uint8_t> bytes,
                 std::optional<std::uint64_t> offset) {
    while (!bytes.empty()) {
        DWORD written = 0;
        OVERLAPPED overlapped = at_offset(offset.value_or(0));
        if (::WriteFile(handle, bytes.data(), transfer_size(bytes.size()), &written,
                        offset ? &overlapped : nullptr) == 0) {
            return last_error();
        }
        if (written == 0) {
            return Error{ERROR_WRITE_FAULT};
        }
        bytes = bytes.subspan(written);
        if (offset) {
            *offset += written;
        }
    }
    return success();
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

// The system's extended prefixes dropped where the plain form names the same file.
std::string plain_form(std::wstring path) {
    if (path.starts_with(kExtendedUncPrefix) && path.size() <= kLongestPlainPath) {
        path = L"\\\\" + path.substr(kExtendedUncPrefix.size());
    } else if (path.starts_with(kExtendedPrefix) &&
               path.size() - kExtendedPrefix.size() <= kLongestPlainPath) {
        path = path.substr(kExtendedPrefix.size());
    }
    return narrowed(path);
}

// The names a console control handler removes. The handler runs on a thread of
// its own, so the names are guarded rather than kept in fixed storage.
std::mutex pending_removal_lock;
std::vector<std::wstring> pending_removals(kRemovalSlots);

BOOL WINAPI remove_pending_and_end(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    // Held to the end, so the run cannot rename or forget a file meanwhile.
    pending_removal_lock.lock();
    for (const std::wstring& name : pending_removals) {
        if (!name.empty()) {
            ::DeleteFileW(name.c_str());
        }
    }
    ::TerminateProcess(::GetCurrentProcess(), kInterruptedStatus);
    return TRUE;
}

// The name moves even while another process holds the old file open, as a
// POSIX rename does; then the file is flushed, which commits the rename too.
Error rename_as_posix_does(const std::wstring& source, const std::wstring& target) {
    const std::wstring absolute = extended(target);
    const HANDLE handle = ::CreateFileW(source.c_str(), DELETE | GENERIC_WRITE, kShareAll, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return last_error();
    }
    const File file{reinterpret_cast<NativeHandle>(handle)};
    const std::size_t nameBytes = absolute.size() * sizeof(wchar_t);
    std::vector<std::uint8_t> request(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(request.data());
    rename->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::copy(absolute.begin(), absolute.end(), rename->FileName);
    if (::SetFileInformationByHandle(handle, kRenameInfoEx, rename,
                                     static_cast<DWORD>(request.size())) == 0) {
        return last_error();
    }
    return ::FlushFileBuffers(handle) != 0 ? success() : last_error();
}

// Systems before Windows 10 and filesystems other than NTFS know no POSIX rename.
bool refuses_posix_rename(const Error& error) {
    return error.code == ERROR_INVALID_PARAMETER || error.code == ERROR_NOT_SUPPORTED ||
           error.code == ERROR_INVALID_FUNCTION;
}

Error move_replacing(const std::wstring& source, const std::wstring& target) {
    Error moved;
    for (int attempt = 0; attempt < kRenameAttempts; ++attempt) {
        if (::MoveFileExW(source.c_str(), target.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
            return success();
        }
        moved = last_error();
        if (moved.code != ERROR_ACCESS_DENIED && moved.code != ERROR_SHARING_VIOLATION) {
            break;
        }
        ::Sleep(kRenamePauseMs);
    }
    return moved;
}

} // namespace

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

namespace {

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

} // namespace

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

Error read_fully(const File& file, std::span<std::uint8_t> buffer, std::size_t& got) {
    return read_until_full(handle_of(file), std::nullopt, buffer, got);
}

Error read_fully_at(const File& file, std::uint64_t offset, std::span<std::uint8_t> buffer,
                    std::size_t& got) {
    const PositionKept position(handle_of(file));
    return read_until_full(handle_of(file), offset, buffer, got);
}

Error read_some(const File& file, std::span<char> buffer, std::size_t& got) {
    return read_once(handle_of(file), reinterpret_cast<std::uint8_t*>(buffer.data()), buffer.size(),
                     nullptr, got);
}

Error write_all(const File& file, std::span<const std::uint8_t> bytes) {
    return write_from(handle_of(file), bytes, std::nullopt);
}

Error write_all_at(const File& file, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    const PositionKept position(handle_of(file));
    return write_from(handle_of(file), bytes, offset);
}

Error seek_to(const File& file, std::uint64_t offset) {
    LARGE_INTEGER target{};
    target.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(handle_of(file), target, nullptr, FILE_BEGIN) != 0 ? success()
                                                                                 : last_error();
}

Error truncate(const File& file, std::uint64_t length) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
    return ::SetFileInformationByHandle(handle_of(file), FileEndOfFileInfo, &end, sizeof end) != 0
               ? success()
               : last_error();
}

// The whole file, as far as any file can reach.
Error lock_exclusive(const File& file) {
    OVERLAPPED whole{};
    return ::LockFileEx(handle_of(file), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) !=
                   0
               ? success()
               : last_error();
}

Error unlock(const File& file) {
    OVERLAPPED whole{};
    return ::UnlockFileEx(handle_of(file), 0, MAXDWORD, MAXDWORD, &whole) != 0 ? success()
                                                                               : last_error();
}

// Windows offers no copy between two open files; the writer moves blocks.
Error kernel_copy(const File&, std::uint64_t, const File&, std::uint64_t, std::uint64_t,
                  std::uint64_t& copied) {
    copied = 0;
    return Error{kUnsupported};
}

// Flushing a pipe would wait for its reader, and a console or NUL holds nothing.
Error sync(const File& file) {
    if (!is_disk_file(file)) {
        return Error{kUnsupported};
    }
    return ::FlushFileBuffers(handle_of(file)) != 0 ? success() : last_error();
}

// The rename writes its directory entry through (MOVEFILE_WRITE_THROUGH).
Error sync_directory(std::string_view) {
    return success();
}

// Writes reach the disk as the cache manager decides until the flush.
Error start_writeback(const File&) {
    return Error{kUnsupported};
}

// Only the read-only attribute stands for permission bits here.
Error set_permissions(const File& file, std::uint32_t permissions) {
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(handle_of(file), FileBasicInfo, &basic, sizeof basic) == 0) {
        return last_error();
    }
    const DWORD readOnly = (permissions & kWriteBits) == 0 ? FILE_ATTRIBUTE_READONLY : 0;
    if ((basic.FileAttributes & FILE_ATTRIBUTE_READONLY) == readOnly) {
        return success();
    }
    basic.FileAttributes = (basic.FileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) | readOnly;
    if (basic.FileAttributes == 0) {
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    }
    return ::SetFileInformationByHandle(handle_of(file), FileBasicInfo, &basic, sizeof basic) != 0
               ? success()
               : last_error();
}

// Owners are security descriptors here, not numbers; a new file gets the creator's.
Error set_owner(const File&, std::uint32_t, std::uint32_t) {
    return Error{kUnsupported};
}

Error set_group(const File&, std::uint32_t) {
    return Error{kUnsupported};
}

// Handles are bounded by memory alone here.
std::size_t open_files_allowed() {
    return SIZE_MAX;
}

std::uint32_t new_file_permissions() {
    return kNewFilePermissions;
}

// Windows has no call relative to a directory's handle: names are joined to its
// path, and the handle keeps the directory from being removed meanwhile.
Error Directory::open(std::string_view path) {
    path_ = std::string(path);
    const Error opened = open_with(path, 0, OPEN_EXISTING, handle_, FILE_FLAG_BACKUP_SEMANTICS);
    if (opened.failed()) {
        return opened;
    }
    FileInfo info;
    if (const Error error = info_of(handle_, info); error.failed()) {
        return error;
    }
    // As creating a file under it would say.
    return info.kind == FileKind::directory ? success() : Error{ERROR_PATH_NOT_FOUND};
}

// A directory takes no byte-range lock here: a file in it, open for no one
// else and removed when closed, is the lock.
Error Directory::try_lock() {
    return open_with(joined_path(path_, ".fwbforge2-lock"), GENERIC_WRITE, OPEN_ALWAYS, lock_,
                     FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, 0);
}

Error create_unnamed_in(const Directory&, File&) {
    return Error{kUnsupported};
}

Error give_unique_name_in(const Directory&, const File&, std::string_view, std::string&) {
    return Error{kUnsupported};
}

Error create_uniquely_named_in(const Directory& directory, std::string_view prefix, File& file,
                               std::string& name) {
    if (!names_a_file(prefix)) {
        return Error{ERROR_FILE_NOT_FOUND};
    }
    for (int attempt = 0; attempt < kNamingAttempts; ++attempt) {
        const std::string candidate = std::string(prefix) + random_suffix();
        const Error created = create_new(joined_path(directory.path(), candidate), file);
        if (!created.failed()) {
            name = candidate;
            return success();
        }
        if (!created.exists()) {
            return created;
        }
    }
    return Error{ERROR_FILE_EXISTS};
}

Error rename_in(const Directory& directory, std::string_view from, std::string_view to) {
    return rename_replacing(joined_path(directory.path(), from), joined_path(directory.path(), to));
}

Error remove_in(const Directory& directory, std::string_view name) {
    return remove_file(joined_path(directory.path(), name));
}

Error info_of_entry(const Directory& directory, std::string_view name, FileInfo& info) {
    return info_of_name(joined_path(directory.path(), name), info);
}

// The rename writes its directory entry through (MOVEFILE_WRITE_THROUGH).
Error sync(const Directory&) {
    return success();
}

Error rename_replacing(std::string_view from, std::string_view to) {
    const std::wstring source = native(from);
    const std::wstring target = native(to);
    if (source.empty() || target.empty()) {
        return Error{ERROR_FILE_NOT_FOUND};
    }
    const Error renamed = rename_as_posix_does(source, target);
    if (!renamed.failed() || !refuses_posix_rename(renamed)) {
        return renamed;
    }
    return move_replacing(source, target);
}

Error remove_file(std::string_view path) {
    const std::wstring name = native(path);
    if (name.empty()) {
        return Error{ERROR_FILE_NOT_FOUND};
    }
    return ::DeleteFileW(name.c_str()) != 0 ? success() : last_error();
}

Error make_directory(std::string_view path) {
    const std::wstring name = native(path);
    if (name.empty()) {
        return Error{ERROR_PATH_NOT_FOUND};
    }
    return ::CreateDirectoryW(name.c_str(), nullptr) != 0 ? success() : last_error();
}

Error make_unique_directory(std::string_view prefix, std::string& path) {
    if (!names_a_file(prefix)) {
        return Error{ERROR_PATH_NOT_FOUND};
    }
    for (int attempt = 0; attempt < kNamingAttempts; ++attempt) {
        const std::string name = std::string(prefix) + random_suffix();
        const Error made = make_directory(name);
        if (!made.failed()) {
            path = name;
            return success();
        }
        if (!made.exists()) {
            return made;
        }
    }
    return Error{ERROR_ALREADY_EXISTS};
}

// A write to a closed pipe fails with an error here, and there is no size limit signal.
void keep_running_on_broken_pipes_and_size_limits() {}

std::size_t remove_on_termination_signal(const Directory& directory, std::string_view name) {
    const std::string path = joined_path(directory.path(), name);
    static const bool installed = ::SetConsoleCtrlHandler(remove_pending_and_end, TRUE) != 0;
    (void)installed;
    const std::wstring name = native(path);
    const std::lock_guard<std::mutex> guard(pending_removal_lock);
    const auto free = std::find(pending_removals.begin(), pending_removals.end(), std::wstring());
    if (name.empty() || free == pending_removals.end()) {
        return kNoRemoval;
    }
    *free = name;
    return static_cast<std::size_t>(free - pending_removals.begin());
}

void forget_removal_on_termination_signal(std::size_t slot) {
    if (slot >= kRemovalSlots) {
        return;
    }
    const std::lock_guard<std::mutex> guard(pending_removal_lock);
    pending_removals[slot].clear();
}

// The console handler runs on a thread of its own and takes the lock above, so
// nothing needs holding back.
TerminationSignalsHeld::TerminationSignalsHeld() : saved_{} {}

TerminationSignalsHeld::~TerminationSignalsHeld() = default;

// A process without a console or with closed handles gets no handle numbers reused here.
void fill_closed_standard_streams() {}

std::vector<std::string> command_line_arguments(int, char**) {
    int count = 0;
    wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    if (words == nullptr) {
        return arguments;
    }
    for (int i = 0; i < count; ++i) {
        arguments.push_back(narrowed(words[i]));
    }
    ::LocalFree(words);
    return arguments;
}

void use_binary_standard_streams() {
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
}

} // namespace platform
