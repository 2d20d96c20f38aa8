#pragma once

// The operating system, thinly: every file, directory, signal and process call
// of the tools goes through here, so that a port replaces a file a job
// (posix_*.cpp, windows_*.cpp).
// Calls report the system's own error code; policy stays with the callers.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// An operating-system failure: its code (0 for none) and the system's wording.
struct Error {
    int code = 0;
    bool failed() const { return code != 0; }
    // The file or a directory on its path does not exist.
    bool missing() const;
    // Something already has the name.
    bool exists() const;
    // The file, filesystem or system offers no such operation.
    bool unsupported() const;
    // A lock another holder has.
    bool busy() const;
    std::string reason() const;
};

using NativeHandle = std::intptr_t;

// An open file; closed on every path out of its scope.
class File {
  public:
    File() = default;
    explicit File(NativeHandle handle) : handle_(handle) {}
    File(File&& other) noexcept : handle_(other.release()) {}
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    bool valid() const { return handle_ != kNoHandle; }
    NativeHandle handle() const { return handle_; }
    NativeHandle release();
    // Closes now; a late write error shows here.
    Error close();

    static constexpr NativeHandle kNoHandle = -1;

  private:
    NativeHandle handle_ = kNoHandle;
};

// A stream (a FIFO, a socket, a pipe) can be read only once, front to back.
enum class FileKind { regular, directory, stream, other };

// Which file a name or handle reaches: equal identities are one file under any name.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

struct FileInfo {
    FileKind kind = FileKind::other;
    FileIdentity identity;
    std::uint64_t size = 0;        // meaningful for regular files
    std::uint32_t permissions = 0; // the permission bits, set-id bits included
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
};

// The characters that end a directory's name in a path, the system's own first,
// and the device that takes any write and keeps nothing.
#ifdef _WIN32
inline constexpr std::string_view kPathSeparators = "\\/";
inline constexpr std::string_view kNullDevice = "NUL";
#else
inline constexpr std::string_view kPathSeparators = "/";
inline constexpr std::string_view kNullDevice = "/dev/null";
#endif

// The program's arguments in UTF-8, its name first, whatever form the system
// handed them in.
std::vector<std::string> command_line_arguments(int argc, char** argv);

// Who ran a run, where and when, for its record: the machine's name and the
// running user's (empty when the system cannot say), and the time now in UTC as
// RFC 3339 to the second ("2026-12-09T03:30:00Z").
std::string host_name();
std::string user_name();
std::string utc_time_now();
// Whether standard error is a terminal a person watches, not a file or a pipe.
bool standard_error_is_terminal();
// Standard output and error pass bytes through untranslated (no CR added before LF).
void use_binary_standard_streams();

// The directory a path's last name is in: "." for a bare name; a root ("/",
// "C:\\") keeps its separator.
std::string directory_of(std::string_view path);
// A path's last name, without the directories before it.
std::string last_name_of(std::string_view path);
// name inside directory, joined by the system's separator unless one ends directory.
std::string joined_path(std::string_view directory, std::string_view name);
// A path that names the same file whatever the working directory: from a root
// ("/x"; on Windows also "\\x" and "C:\\x").
bool is_absolute(std::string_view path);

Error open_for_reading(std::string_view path, File& file);
// The same, but a FIFO without a writer opens at once instead of waiting for
// one, so that the caller can refuse it; other files read as usual.
Error open_for_reading_without_waiting(std::string_view path, File& file);
// Opens an existing file for writing without truncating it, following links the
// way the system does and under its protections (read-only files, protected links).
Error open_existing_for_writing(std::string_view path, File& file);
// Creates path for writing, following a dangling link the way the system does
// and under its protections.
Error open_creating(std::string_view path, File& file);
// Creates path for writing, failing when anything (a file, a link) already has that name.
Error create_new(std::string_view path, File& file);

// Opens path to add to its end (and read it), creating it with 0666 less the creation mask.
// Where the system does not move every write to the end itself, the caller
// writes at the length it finds while it holds lock_exclusive().
Error open_appending(std::string_view path, File& file);
// True when path itself is a symbolic link, whether or not it leads anywhere.
bool is_link(std::string_view path);
// Whether this process may write path (a directory: create files in it), as the
// system would decide for an open; nothing is opened.
Error may_write(std::string_view path);
// Whether this process may put a new file in place of name in directory by a
// rename: the directory writable and, where it is sticky, the name this user's
// or the directory's, or the process privileged.
Error may_replace_in(std::string_view directory, std::string_view name);
// Whether this process may create path (a file or directory): nothing has the
// name, a link included, and its directory is writable.
Error may_create(std::string_view path);
// The error a rename onto a directory meets.
Error rename_refusal_of_directory();

Error info_of(const File& file, FileInfo& info);
Error info_of_path(std::string_view path, FileInfo& info);
// The file path leads to, if it exists and the system tells files apart.
std::optional<FileIdentity> identity_of(std::string_view path);
// The file the name itself stands for: a link is not followed.
Error info_of_name(std::string_view path, FileInfo& info);
// The length that seeking to the end gives (a block device's size, say).
Error seekable_length(const File& file, std::uint64_t& length);
// What standard output is writing to.
Error info_of_standard_output(FileInfo& info);
// Where a symbolic link leads, as written in it; unsupported where the system
// keeps no such links.
Error link_target(std::string_view path, std::string& target);
// The absolute path, every link resolved, of an existing file.
Error resolved_path(std::string_view path, std::string& resolved);
// The absolute path under which the system opened file; unsupported where the
// system cannot tell.
Error path_of(const File& file, std::string& path);

// Reads from a given offset until buffer is full or the file ends, leaving the
// file position alone; `got` is the count read.
Error read_fully_at(const File& file, std::uint64_t offset, std::span<std::uint8_t> buffer,
                    std::size_t& got);
// One read of at most buffer's size; `got` is 0 at the end of the file.
Error read_some(const File& file, std::span<char> buffer, std::size_t& got);
Error write_all(const File& file, std::span<const std::uint8_t> bytes);
Error write_all_at(const File& file, std::uint64_t offset, std::span<const std::uint8_t> bytes);
Error truncate(const File& file, std::uint64_t length);
// Waits for the only lock on the whole file that other processes honour;
// unlock, or closing the file, releases it.
Error lock_exclusive(const File& file);
Error unlock(const File& file);
// Copies count bytes from in's offset to out's offset inside the kernel, sharing
// extents where the filesystem can; `copied` falls short only at in's end.
// Fails as unsupported where the pair of files allows no such copy.
Error kernel_copy(const File& in, std::uint64_t inOffset, const File& out, std::uint64_t outOffset,
                  std::uint64_t count, std::uint64_t& copied);
// Flushes the file's data and metadata to stable storage; unsupported for files
// that hold nothing to flush (a pipe, a character device).
Error sync(const File& file);
Error sync_directory(std::string_view directory);
// Starts writing the file's data to storage without waiting for it, so a later
// flush has less to wait for; unsupported where the system cannot.
Error start_writeback(const File& file);

Error set_permissions(const File& file, std::uint32_t permissions);
Error set_owner(const File& file, std::uint32_t owner, std::uint32_t group);
Error set_group(const File& file, std::uint32_t group);
// How many files this process may have open at once.
std::size_t open_files_allowed();

// The permission bits a newly created file gets: 0666 less the creation mask.
std::uint32_t new_file_permissions();

// A directory the tools create, rename and examine names in: through its handle
// where the system works so, so that a directory swapped in for the path
// meanwhile cannot take what is meant for this one. A name in it is never
// followed: a link or a FIFO there is an entry to examine or replace.
class Directory {
  public:
    // Opens the directory at path (a link to one is followed: the caller named it).
    Error open(std::string_view path);
    const std::string& path() const { return path_; }
    const File& handle() const { return handle_; }
    // Takes the lock that only one holder at a time gets, failing as busy() when
    // another holds it; it goes with the handle, and with the process.
    Error try_lock();

  private:
    File handle_;
    File lock_; // where the lock is a file of its own
    std::string path_;
};

// A file in the directory that has no name until it is given one, with 0666
// less the creation mask, open for reading and writing (a writer may read back
// what it wrote); unsupported where the filesystem cannot hold one.
Error create_unnamed_in(const Directory& directory, File& file);
// Gives an unnamed file a new, unique name in the directory from prefix.
Error give_unique_name_in(const Directory& directory, const File& unnamed, std::string_view prefix,
                          std::string& name);
// Creates a new file in the directory with a unique name from prefix, with 0666
// less the creation mask, open for reading and writing.
Error create_uniquely_named_in(const Directory& directory, std::string_view prefix, File& file,
                               std::string& name);
// Puts name from in place of name to in one step, whatever to was: a file, a
// link (not what it leads to), a FIFO.
Error rename_in(const Directory& directory, std::string_view from, std::string_view to);
Error remove_in(const Directory& directory, std::string_view name);
// What the name itself is in the directory: a link is not followed.
Error info_of_entry(const Directory& directory, std::string_view name, FileInfo& info);
// The names of the directory's entries, "." and ".." left out, in no order.
Error names_in(const Directory& directory, std::vector<std::string>& names);
Error sync(const Directory& directory);
Error remove_file(std::string_view path);
Error make_directory(std::string_view path);

// Lets a failed write to a closed pipe or past the file-size limit be an error
// the writer reports, rather than a signal that ends the process.
void keep_running_on_broken_pipes_and_size_limits();
// On an interrupt, termination or hang-up signal, removes every file named here
// (through its directory's handle, which must stay open meanwhile) and not
// forgotten since, then ends the process by that signal. At most kRemovalSlots
// names at a time; past that a name gets kNoRemoval and stays.
inline constexpr std::size_t kRemovalSlots = 128;
inline constexpr std::size_t kNoRemoval = kRemovalSlots;
std::size_t remove_on_termination_signal(const Directory& directory, std::string_view name);
void forget_removal_on_termination_signal(std::size_t slot);

// Holds back the interrupt, termination and hang-up signals while it lives, so
// that a file is created and registered for removal in one step.
class TerminationSignalsHeld {
  public:
    TerminationSignalsHeld();
    TerminationSignalsHeld(const TerminationSignalsHeld&) = delete;
    TerminationSignalsHeld& operator=(const TerminationSignalsHeld&) = delete;
    ~TerminationSignalsHeld();

  private:
    std::uint64_t saved_[16]; // the signal mask before, whatever the system's mask type
};

// Opens the null device in place of a closed standard input, output or error, so
// that no file the tools open takes their place and receives their lines.
void fill_closed_standard_streams();

} // namespace platform
