#include "image/output_file.h"

namespace {

constexpr std::string_view kTemporaryName = ".fwbforge2-";
constexpr std::uint32_t kPermissionBits = 0777;
constexpr std::uint32_t kStickyBit = 01000;
constexpr int kOpenAttempts = 100;

constexpr int kMostLinksFollowed = 40;

bool is_absolute(std::string_view path) {
    return !path.empty() && platform::kPathSeparators.find(path.front()) != std::string_view::npos;
}

// Where creating path would create a file: through its links, as the system
// follows them, to a name that does not exist.
std::string creation_target(std::string_view path) {
    std::string target(path);
    for (int hop = 0; hop < kMostLinksFollowed && platform::is_link(target); ++hop) {
        std::string next;
        if (platform::link_target(target, next).failed()) {
            break;
        }
        target =
            is_absolute(next) ? next : platform::joined_path(platform::directory_of(target), next);
    }
    return target;
}

} // namespace

OutputFile::~OutputFile() {
    if (!replacing_) {
        return;
    }
    file_.close();
    if (!temporary_.empty()) {
        const platform::TerminationSignalsHeld held;
        (void)platform::remove_in(*directory_, temporary_);
        forget_temporary();
    }
}

Failure OutputFile::fail(Check check, std::string_view path, platform::Error error) {
    return failure_of(PROVKIT_ERR_FILE, check, path, error);
}

Result<> OutputFile::open(std::string_view path) {
    path_ = std::string(path);
    // Another run may put its image in place between the open and the check of
    // the name: the name then leads to a new file, which is opened in turn.
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        changed_ = false;
        replacing_ = false;
        existing_.reset();
        Result<> opened = open_once(path);
        if (!changed_) {
            return opened;
        }
    }
    return fail(Check::output_moving, path, {});
}

Result<> OutputFile::open_once(std::string_view path) {
    platform::File output;
    const platform::Error opened = platform::open_existing_for_writing(path, output);
    if (!opened.failed()) {
        return open_existing(path, output);
    }
    if (!opened.missing()) {
        return fail(Check::output_refused, path, opened);
    }
    if (!platform::is_link(path)) {
        target_ = std::string(path);
        return prepare_replacement(nullptr);
    }
    return open_through_dangling_link(path);
}

// The system decides, under its protections, where a file created through the
// link goes. The empty file made to learn that is removed at once, so the image
// appears there whole or not at all.
Result<> OutputFile::open_through_dangling_link(std::string_view path) {
    platform::File created;
    platform::FileInfo info;
    if (const platform::Error error = platform::open_creating(path, created); error.failed()) {
        return fail(Check::output_uncreated, path, error);
    }
    if (const platform::Error error = platform::info_of(created, info); error.failed()) {
        return fail(Check::output_unexamined, path, error);
    }
    if (info.size > 0) {
        return open_existing(path, created); // another run put its image there meanwhile
    }
    if (Result<> located = locate(path, created, info); !located || changed_) {
        return located;
    }
    (void)platform::remove_file(target_);
    return prepare_replacement(nullptr);
}

// Where the opened file lies, as the system opened it: the name is not walked
// again, so a link swapped in meanwhile cannot redirect the replacement.
Result<> OutputFile::locate(std::string_view path, const platform::File& opened,
                            const platform::FileInfo& info) {
    platform::Error error = platform::path_of(opened, target_);
    if (error.unsupported()) {
        error = platform::resolved_path(path, target_);
    }
    if (error.failed()) {
        return fail(Check::output_unresolved, path, error);
    }
    platform::FileInfo named;
    changed_ = platform::info_of_name(target_, named).failed() || named.identity != info.identity;
    return {};
}

Result<> OutputFile::open_existing(std::string_view path, platform::File& output) {
    platform::FileInfo info;
    if (const platform::Error error = platform::info_of(output, info); error.failed()) {
        return fail(Check::output_unexamined, path, error);
    }
    existing_ = info.identity;
    if (info.kind != platform::FileKind::regular) {
        file_ = std::move(output);
        return {};
    }
    if (Result<> located = locate(path, output, info); !located || changed_) {
        return located;
    }
    return prepare_replacement(&info);
}

// The temporary file goes beside the file replaced, in a directory opened once:
// the name checked is the name replaced.
Result<> OutputFile::prepare_replacement(const platform::FileInfo* replaced) {
    replacing_ = true;
    const std::string directory = platform::directory_of(target_);
    if (const platform::Error error = ownDirectory_.open(directory); error.failed()) {
        return fail(Check::temporary_uncreated, directory, error);
    }
    directory_ = &ownDirectory_;
    name_ = platform::last_name_of(target_);
    platform::FileInfo named;
    if (replaced != nullptr && (platform::info_of_entry(ownDirectory_, name_, named).failed() ||
                                named.identity != replaced->identity)) {
        changed_ = true;
        return {};
    }
    if (Result<> created = create_temporary(); !created) {
        return created;
    }
    if (const platform::Error error = keep_attributes(replaced); error.failed()) {
        return fail(Check::permissions_unset, path_, error);
    }
    return {};
}

Result<> OutputFile::open_in(const platform::Directory& directory, std::string_view name) {
    replacing_ = true;
    directory_ = &directory;
    name_ = std::string(name);
    path_ = target_ = platform::joined_path(directory.path(), name);
    platform::FileInfo info;
    if (!platform::info_of_entry(directory, name, info).failed()) {
        existing_ = info.identity;
    }
    if (Result<> created = create_temporary(); !created) {
        return created;
    }
    if (const platform::Error error = keep_attributes(nullptr); error.failed()) {
        return fail(Check::permissions_unset, path_, error);
    }
    return {};
}

Result<> OutputFile::create_temporary() {
    const platform::Error unnamed = platform::create_unnamed_in(*directory_, file_);
    if (!unnamed.failed()) {
        return {};
    }
    if (!unnamed.unsupported()) {
        return fail(Check::temporary_uncreated, directory_->path(), unnamed);
    }
    platform::File named;
    std::string name;
    const platform::TerminationSignalsHeld held;
    if (const platform::Error error =
            platform::create_uniquely_named_in(*directory_, kTemporaryName, named, name);
        error.failed()) {
        return fail(Check::temporary_uncreated, directory_->path(), error);
    }
    file_ = std::move(named);
    name_temporary(name);
    return {};
}

void OutputFile::name_temporary(std::string name) {
    temporary_ = std::move(name);
    removal_ = platform::remove_on_termination_signal(*directory_, temporary_);
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
    // Where the owner cannot be kept, the group still may be (a member's run).
    if (platform::set_owner(file_, replaced->owner, replaced->group).failed()) {
        (void)platform::set_group(file_, replaced->group);
    }
    return platform::set_permissions(file_, replaced->permissions & (kPermissionBits | kStickyBit));
}

Result<> OutputFile::put_in_place() {
    if (!replacing_) {
        const platform::Error closed = file_.close();
        return closed.failed() ? Result<>(fail(Check::output_unclosed, path_, closed)) : Result<>();
    }
    if (temporary_.empty()) {
        const platform::TerminationSignalsHeld held;
        std::string name;
        if (const platform::Error error =
                platform::give_unique_name_in(*directory_, file_, kTemporaryName, name);
            error.failed()) {
            return fail(Check::temporary_unnamed, directory_->path(), error);
        }
        name_temporary(name);
    }
    if (const platform::Error error = platform::rename_in(*directory_, temporary_, name_);
        error.failed()) {
        return fail(Check::output_unrenamed, target_, error);
    }
    forget_temporary();
    const platform::Error closed = file_.close();
    return closed.failed() ? Result<>(fail(Check::output_unclosed, target_, closed)) : Result<>();
}

Result<> OutputFile::sync_directory() {
    if (!replacing_) {
        return {};
    }
    const platform::Error error = platform::sync(*directory_);
    return error.failed() ? Result<>(fail(Check::directory_unflushed, directory_->path(), error))
                          : Result<>();
}

Result<> OutputFile::flush() {
    // A pipe or a terminal holds nothing to flush; a device or a file does.
    const platform::Error error = platform::sync(file_);
    if (!error.failed() || (streams() && error.unsupported())) {
        return {};
    }
    return fail(Check::output_unflushed, path_, error);
}

Result<> OutputFile::commit() {
    if (Result<> flushed = flush(); !flushed) {
        return flushed;
    }
    if (Result<> placed = put_in_place(); !placed) {
        return placed;
    }
    return sync_directory();
}

// Mirrors open(): the same refusals with the same reasons, from the system's
// own access rules rather than an open, so that nothing is created or truncated.
Result<> OutputFile::check(std::string_view path) {
    platform::FileInfo info;
    const platform::Error found = platform::info_of_path(path, info);
    if (found.failed() && !found.missing()) {
        return fail(Check::output_refused, path, found);
    }
    // A dangling link: the real run creates through it, where the link leads.
    if (found.failed() && platform::is_link(path)) {
        const platform::Error error =
            platform::may_write(platform::directory_of(creation_target(path)));
        return error.failed() ? Result<>(fail(Check::output_uncreated, path, error)) : Result<>();
    }
    if (found.failed()) {
        const std::string directory = platform::directory_of(path);
        const platform::Error error = platform::may_write(directory);
        return error.failed() ? Result<>(fail(Check::temporary_uncreated, directory, error))
                              : Result<>();
    }
    // Opening a directory for writing is refused before anything happens to it.
    if (platform::File directory; info.kind == platform::FileKind::directory) {
        return fail(Check::output_refused, path,
                    platform::open_existing_for_writing(path, directory));
    }
    if (const platform::Error error = platform::may_write(path); error.failed()) {
        return fail(Check::output_refused, path, error);
    }
    // A regular file is replaced by a rename in its own directory, links followed.
    std::string target;
    if (info.kind != platform::FileKind::regular ||
        platform::resolved_path(path, target).failed()) {
        return {};
    }
    const platform::Error error =
        platform::may_replace_in(platform::directory_of(target), platform::last_name_of(target));
    return error.failed() ? Result<>(fail(Check::output_unrenamed, target, error)) : Result<>();
}

Result<> OutputFile::check_in(const platform::Directory& directory, std::string_view name) {
    const std::string path = platform::joined_path(directory.path(), name);
    if (const platform::Error error = platform::may_write(directory.path()); error.failed()) {
        return fail(Check::temporary_uncreated, directory.path(), error);
    }
    // Nothing at the name is opened: a directory there refuses the rename, as the
    // sticky bit may.
    platform::FileInfo info;
    if (!platform::info_of_entry(directory, name, info).failed() &&
        info.kind == platform::FileKind::directory) {
        return fail(Check::output_unrenamed, path, platform::rename_refusal_of_directory());
    }
    const platform::Error error = platform::may_replace_in(directory.path(), name);
    return error.failed() ? Result<>(fail(Check::output_unrenamed, path, error)) : Result<>();
}
