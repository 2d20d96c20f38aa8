// What other POSIX systems (macOS, the BSDs) offer instead of Linux's own calls:
// no in-kernel copy, no unnamed files (the writer names its temporary files and
// copies in blocks), the path an open file has where F_GETPATH tells it. CMake
// builds this file or linux.cpp, never both; the portable build tests it on Linux.
#include "platform/posix_internal.h"

#include <fcntl.h>
#include <limits.h>

namespace platform {

using namespace detail;

Error kernel_copy(const File&, std::uint64_t, const File&, std::uint64_t, std::uint64_t,
                  std::uint64_t& copied) {
    copied = 0;
    return Error{kUnsupported};
}

Error create_unnamed_in(const Directory&, File&) {
    return Error{kUnsupported};
}

Error give_unique_name_in(const Directory&, const File&, std::string_view, std::string&) {
    return Error{kUnsupported};
}

Error path_of([[maybe_unused]] const File& file, [[maybe_unused]] std::string& path) {
#if defined(F_GETPATH)
    char found[PATH_MAX];
    if (::fcntl(fd_of(file), F_GETPATH, found) != 0) {
        return last_error();
    }
    path = found;
    return success();
#else
    return Error{kUnsupported};
#endif
}

Error start_writeback(const File&) {
    return Error{kUnsupported};
}

} // namespace platform
