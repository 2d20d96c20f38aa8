#include "image/output_file.h"

#include "common/report.h"

namespace {

constexpr std::string_view kTemporaryPrefix = "/.fwbforge2-";
constexpr std::uint32_t kPermissionBits = 0777;
constexpr std::uint32_t kStickyBit = 01000;

std::string directory_of(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        return ".";
    }
    return slash == 0 ? "/" : std::string(path.substr(0, slash));
}

} // namespace

OutputFile::~OutputFile() {
    if (!replacing_) {
        return;
    }
    file_.close();
    if (!temporary_.empty()) {
        (void)platform::remove_file(temporary_);
        forget_temporary();
    }
    if (!placeholder_.empty()) {
        (void)platform::remove_file(placeholder_);
    }
}

bool OutputFile::fail(std::string_view action, std::string_view path, platform::Error error) {
    print_diagnostic(std::string(action) + " " + std::string(path) + ": " + error.reason());
    return false;
}

bool OutputFile::open(std::string_view path) {
    path_ = std::string(path);
    platform::File output;
    const platform::Error opened = platform::open_existing_for_writing(path, output);
    if (!opened.failed()) {
        return open_existing(path, output);
    }
    if (!opened.missing()) {
        return fail("cannot write to", path, opened);
    }
    if (!platform::is_link(path)) {
        target_ = std::string(path);
        return prepare_replacement(path, nullptr);
    }
    // A dangling link: the system decides, as for any create, where it leads.
    if (const platform::Error created = platform::open_creating(path, output); created.failed()) {
        return fail("cannot create", path, created);
    }
    if (const platform::Error resolved = platform::resolved_path(path, placeholder_);
        resolved.failed()) {
        return fail("cannot resolve", path, resolved);
    }
    target_ = placeholder_;
    return prepare_replacement(path, nullptr);
}

bool OutputFile::open_existing(std::string_view path, platform::File& output) {
    platform::FileInfo info;
    if (const platform::Error error = platform::info_of(output, info); error.failed()) {
        return fail("cannot examine", path, error);
    }
    existing_ = info.identity;
    if (info.kind != platform::FileKind::regular) {
        file_ = std::move(output);
        return true;
    }
    if (const platform::Error error = platform::resolved_path(path, target_); error.failed()) {
        return fail("cannot resolve", path, error);
    }
    return prepare_replacement(path, &info);
}

bool OutputFile::prepare_replacement(std::string_view path, const platform::FileInfo* replaced) {
    replacing_ = true;
    directory_ = directory_of(target_);
    if (!create_temporary(directory_)) {
        return false;
    }
    if (const platform::Error error = keep_attributes(replaced); error.failed()) {
        return fail("cannot set the permissions of the image for", path, error);
    }
    return true;
}

bool OutputFile::create_temporary(std::string_view directory) {
    const platform::Error unnamed = platform::create_unnamed(directory, file_);
    if (!unnamed.failed()) {
        return true;
    }
    if (!unnamed.unsupported()) {
        return fail("cannot create a temporary file in", directory, unnamed);
    }
    std::string prefix(directory);
    prefix.append(kTemporaryPrefix);
    platform::File named;
    std::string name;
    if (const platform::Error error = platform::create_uniquely_named(prefix, named, name);
        error.failed()) {
        return fail("cannot create a temporary file in", directory, error);
    }
    file_ = std::move(named);
    name_temporary(name);
    return true;
}

void OutputFile::name_temporary(std::string name) {
    temporary_ = std::move(name);
    removal_ = platform::remove_on_termination_signal(temporary_);
}

void OutputFile::forget_temporary() {
    platform::forget_removal_on_termination_signal(removal_);
    removal_ = platform::kNoRemoval;
    temporary_.clear();
}

// The new file takes the old one's place, so it keeps its owner where the
// process may set it and its permissions, but never set-user-ID or set-group-ID:
// those were granted to the old owner's file, not to one written by this process.
platform::Error OutputFile::keep_attributes(const platform::FileInfo* replaced) {
    if (replaced == nullptr) {
        return platform::set_permissions(file_, platform::new_file_permissions());
    }
    (void)platform::set_owner(file_, replaced->owner, replaced->group);
    return platform::set_permissions(file_, replaced->permissions & (kPermissionBits | kStickyBit));
}

bool OutputFile::put_in_place() {
    if (!replacing_) {
        const platform::Error closed = file_.close();
        return !closed.failed() || fail("cannot close", path_, closed);
    }
    if (temporary_.empty()) {
        std::string prefix = directory_;
        prefix.append(kTemporaryPrefix);
        std::string name;
        if (const platform::Error error = platform::give_unique_name(file_, prefix, name);
            error.failed()) {
            return fail("cannot name a temporary file in", directory_, error);
        }
        name_temporary(name);
    }
    if (const platform::Error error = platform::rename_replacing(temporary_, target_);
        error.failed()) {
        return fail("cannot rename a temporary file onto", target_, error);
    }
    forget_temporary();
    placeholder_.clear();
    const platform::Error closed = file_.close();
    return !closed.failed() || fail("cannot close", target_, closed);
}

bool OutputFile::sync_directory() {
    if (!replacing_) {
        return true;
    }
    const platform::Error error = platform::sync_directory(directory_);
    return !error.failed() || fail("cannot flush the directory", directory_, error);
}

bool OutputFile::flush() {
    // A pipe or a terminal holds nothing to flush; a device or a file does.
    const platform::Error error = platform::sync(file_);
    return !error.failed() || (streams() && error.unsupported()) ||
           fail("cannot flush", path_, error);
}

bool OutputFile::commit() {
    return flush() && put_in_place() && sync_directory();
}

// Mirrors open(): the same refusals with the same reasons, from the system's
// own access rules rather than an open, so that nothing is created or truncated.
bool OutputFile::check(std::string_view path) {
    platform::FileInfo info;
    const platform::Error found = platform::info_of_path(path, info);
    if (found.failed() && !found.missing()) {
        return fail("cannot write to", path, found);
    }
    if (found.failed()) {
        const std::string directory = directory_of(path);
        const platform::Error error = platform::may_write(directory);
        return !error.failed() || fail("cannot create a temporary file in", directory, error);
    }
    // Opening a directory for writing is refused before anything happens to it.
    if (platform::File directory; info.kind == platform::FileKind::directory) {
        return fail("cannot write to", path, platform::open_existing_for_writing(path, directory));
    }
    const platform::Error error = platform::may_write(path);
    return !error.failed() || fail("cannot write to", path, error);
}
