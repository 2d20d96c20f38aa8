#include "platform/windows_internal.h"

#include <string>
#include <vector>

namespace platform {

using namespace detail;

namespace {

// Another process's handle on the target (a run checking it, a virus scanner) refuses
// the replacement for a moment, where a POSIX rename would not wait.
constexpr int kRenameAttempts = 300;
constexpr DWORD kRenamePauseMs = 10;
// FileRenameInfoEx, which this toolchain declares only for a later system version.
constexpr auto kRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

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

namespace detail {

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

} // namespace detail

// Windows has no call relative to a directory's handle: names are joined to its path.
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
        const Error created = open_with(joined_path(directory.path(), candidate),
                                        GENERIC_READ | GENERIC_WRITE, CREATE_NEW, file);
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
Error names_in(const Directory& directory, std::vector<std::string>& names) {
    const std::wstring pattern = native(joined_path(directory.path(), "*"));
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return last_error();
    }
    names.clear();
    do {
        const std::string name = narrowed(found.cFileName);
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    } while (::FindNextFileW(search, &found));
    const Error ended = last_error();
    ::FindClose(search);
    return ended.code == ERROR_NO_MORE_FILES ? success() : ended;
}

Error sync(const Directory&) {
    return success();
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

} // namespace platform
