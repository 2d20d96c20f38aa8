#include "app/record_file.h"

#include "app/output.h"

#include <algorithm>
#include <iterator>
#include <vector>

bool RunRecord::fail(std::string_view action, std::string_view reason) {
    print_diagnostic(std::string(action) + " the record " + path_ + ": " + std::string(reason));
    return false;
}

bool RunRecord::open(std::string_view path, std::span<const RunFile> others) {
    path_ = std::string(path);
    if (const platform::Error error = platform::open_appending(path, file_); error.failed()) {
        return fail("cannot open", error.reason());
    }
    const std::optional<platform::FileIdentity> own = identity();
    for (const RunFile& other : others) {
        if (own == other.identity) {
            file_.close();
            print_diagnostic("the record " + path_ + " is " + std::string(other.role));
            return false;
        }
    }
    return true;
}

std::optional<platform::FileIdentity> RunRecord::identity() const {
    platform::FileInfo info;
    if (!file_.valid() || platform::info_of(file_, info).failed()) {
        return std::nullopt;
    }
    return info.identity;
}

bool RunRecord::is_not(std::string_view path, std::string_view role) {
    platform::FileInfo info;
    if (!file_.valid() || platform::info_of_path(path, info).failed() ||
        identity() != info.identity) {
        return true;
    }
    file_.close();
    print_diagnostic("the record " + path_ + " is " + std::string(role) + " " + std::string(path));
    return false;
}

namespace {

constexpr std::size_t kTailBlock = 64 * 1024;

// Where the file's last whole line ends: a run killed while it appended may have
// left part of a line after it. 0 when no line feed is found.
platform::Error end_of_last_line(const platform::File& file, std::uint64_t size,
                                 std::uint64_t& end) {
    std::vector<std::uint8_t> block(kTailBlock);
    end = size;
    while (end > 0) {
        const std::uint64_t from = end - std::min<std::uint64_t>(end, block.size());
        const auto count = static_cast<std::size_t>(end - from);
        std::size_t got = 0;
        if (const platform::Error error =
                platform::read_fully_at(file, from, std::span(block).first(count), got);
            error.failed() || got != count) {
            return error.failed() ? error : platform::Error{};
        }
        const auto lineFeed = std::find(
            std::make_reverse_iterator(block.begin() + static_cast<std::ptrdiff_t>(count)),
            block.rend(), std::uint8_t{'\n'});
        if (lineFeed != block.rend()) {
            end = from + static_cast<std::uint64_t>(block.rend() - lineFeed);
            return {};
        }
        end = from;
    }
    return {};
}

std::optional<std::uint8_t> byte_at(const platform::File& file, std::uint64_t offset) {
    std::uint8_t byte = 0;
    std::size_t got = 0;
    if (platform::read_fully_at(file, offset, std::span(&byte, 1), got).failed() || got != 1) {
        return std::nullopt;
    }
    return byte;
}

// Where the next line goes: after the last whole line, a torn one (no line feed)
// left by a run killed while it appended cut back first. Nothing when the file
// holds anything but JSON lines, which every line begins with '{'; a file that
// cannot be read back (written only) takes the line at its end.
std::optional<std::uint64_t> next_line_at(const platform::File& file, std::uint64_t size) {
    const std::optional<std::uint8_t> first = byte_at(file, 0);
    if (size == 0 || !first) {
        return size;
    }
    std::uint64_t end = size;
    if (*first != '{' || byte_at(file, size - 1) == '\n' ||
        end_of_last_line(file, size, end).failed()) {
        return *first == '{' ? std::optional<std::uint64_t>(size) : std::nullopt;
    }
    if (byte_at(file, end) != '{' || platform::truncate(file, end).failed()) {
        return std::nullopt;
    }
    return end;
}

} // namespace

bool RunRecord::append(std::string_view lines) {
    if (const platform::Error error = platform::lock_exclusive(file_); error.failed()) {
        return fail("cannot lock", error.reason());
    }
    platform::FileInfo info;
    platform::Error error = platform::info_of(file_, info);
    const bool regular = !error.failed() && info.kind == platform::FileKind::regular;
    if (regular) {
        const std::optional<std::uint64_t> at = next_line_at(file_, info.size);
        if (!at) {
            (void)platform::unlock(file_);
            return fail("cannot append to", "it holds something other than JSON lines");
        }
        info.size = *at;
    }
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(lines.data()), lines.size());
    if (!error.failed()) {
        error = regular ? platform::write_all_at(file_, info.size, bytes)
                        : platform::write_all(file_, bytes);
        if (error.failed() && regular) {
            (void)platform::truncate(file_, info.size);
        }
    }
    if (!error.failed()) {
        error = platform::sync(file_);
        error = error.unsupported() ? platform::Error{} : error;
    }
    (void)platform::unlock(file_);
    return !error.failed() || fail("cannot append to", error.reason());
}
