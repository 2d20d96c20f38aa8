#include "platform/windows_internal.h"

#include <algorithm>
#include <optional>

namespace platform {

using namespace detail;

namespace {

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

} // namespace

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

} // namespace platform
