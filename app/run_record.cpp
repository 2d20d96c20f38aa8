#include "app/run_record.h"

#include "app/options.h"
#include "app/output.h"
#include "common/hex.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>

namespace {

template <typename Value> Json or_null(const std::optional<Value>& value) {
    return value ? Json(*value) : Json(nullptr);
}

Json identifiers_into(Json json, const std::optional<DeviceId>& id) {
    json["vid"] = id ? Json(hex16(id->vid)) : Json(nullptr);
    json["did"] = id ? Json(hex16(id->did)) : Json(nullptr);
    json["svid"] = id ? Json(hex16(id->svid)) : Json(nullptr);
    json["ssid"] = id ? Json(hex16(id->ssid)) : Json(nullptr);
    return json;
}

} // namespace

Json digest_json(const std::optional<DigestValue>& digest) {
    return digest ? Json(to_hex(*digest)) : Json(nullptr);
}

std::string image_file_name(DeviceId id) {
    return hex16(id.vid) + "-" + hex16(id.did) + "-" + hex16(id.svid) + "-" + hex16(id.ssid) +
           ".fwb";
}

std::vector<std::string> printed_lines(std::string_view printed) {
    std::vector<std::string> lines;
    while (!printed.empty()) {
        const std::size_t end = printed.find('\n');
        lines.emplace_back(printed.substr(0, end));
        printed = end == std::string_view::npos ? std::string_view() : printed.substr(end + 1);
    }
    return lines;
}

Json run_json(const RunFacts& facts) {
    Json json;
    json["version"] = tool_version();
    json["status"] = facts.status;
    json["dry_run"] = facts.dryRun;
    json = identifiers_into(std::move(json), facts.id);
    json["update_data"] = {{"path", facts.updateDataPath},
                           {"sha256", digest_json(facts.updateDataDigest)}};
    json["image_name"] = or_null(facts.imageName);
    json["base"] = {{"path", or_null(facts.imageName)},
                    {"sha256", digest_json(facts.baseDigest)},
                    {"verified", or_null(facts.baseVerified)}};
    json["output"] = {{"path", facts.outputPath},
                      {"length", or_null(facts.outputLength)},
                      {"sha256", digest_json(facts.outputDigest)}};
    json["mac_length"] = or_null(facts.macLength);
    json["phy_length"] = or_null(facts.phyLength);
    json["exprom"] = or_null(facts.exprom);
    if (facts.status != PROVKIT_OK) {
        json["messages"] = printed_lines(facts.printed);
    }
    return json;
}

// Names and lines are bytes, not always UTF-8: what is not shows as U+FFFD.
std::string json_text(const Json& json) {
    return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string json_line(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::optional<DigestValue> file_digest(std::string_view path) {
    platform::File file;
    platform::FileInfo info;
    if (platform::open_for_reading(path, file).failed() || platform::info_of(file, info).failed() ||
        info.kind != platform::FileKind::regular) {
        return std::nullopt;
    }
    Result<DigestValue> digest = file_sha256(file, info.size);
    return digest ? std::optional<DigestValue>(*digest) : std::nullopt;
}

bool RunRecord::fail(std::string_view action, platform::Error error) {
    print_diagnostic(std::string(action) + " the record " + path_ + ": " + error.reason());
    return false;
}

bool RunRecord::open(std::string_view path, std::span<const RunFile> others) {
    path_ = std::string(path);
    if (const platform::Error error = platform::open_appending(path, file_); error.failed()) {
        return fail("cannot open", error);
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

// A torn last line is cut back before the next line joins it, so the file stays JSON Lines.
platform::Error cut_torn_line(const platform::File& file, std::uint64_t& size) {
    std::uint8_t last = '\n';
    std::size_t got = 0;
    if (size == 0) {
        return {};
    }
    if (const platform::Error error =
            platform::read_fully_at(file, size - 1, std::span(&last, 1), got);
        error.failed() || last == '\n') {
        return error;
    }
    std::uint64_t end = 0;
    if (const platform::Error error = end_of_last_line(file, size, end); error.failed()) {
        return error;
    }
    const platform::Error error = platform::truncate(file, end);
    if (!error.failed()) {
        size = end;
    }
    return error;
}

} // namespace

bool RunRecord::append(std::string_view lines) {
    if (const platform::Error error = platform::lock_exclusive(file_); error.failed()) {
        return fail("cannot lock", error);
    }
    platform::FileInfo info;
    platform::Error error = platform::info_of(file_, info);
    const bool regular = !error.failed() && info.kind == platform::FileKind::regular;
    // A record that cannot be read back (written only) keeps what it holds.
    if (regular) {
        (void)cut_torn_line(file_, info.size);
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
    return !error.failed() || fail("cannot append to", error);
}
