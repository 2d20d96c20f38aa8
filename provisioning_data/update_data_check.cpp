#include "provisioning_data/update_data_check.h"

#include "provisioning_data/board_data_stage.h"
#include "provisioning_data/device_key.h"
#include "provisioning_data/line_reader.h"
#include "provisioning_data/open_entries.h"

#include <algorithm>
#include <array>
#include <tuple>
#include <unordered_map>

namespace {

constexpr std::string_view kPciidMention = "<pciid";
constexpr std::array<std::string_view, 4> kTags = {kMacTag, kPhyTag, kExpromTag, kImageTag};

// The tag whose second letter (in any case) text's is: the one place a tag
// written in another case, or "<pciid" (which shares <phy>'s), can begin.
std::string_view tag_by_second_letter(std::string_view text) {
    if (text.size() < 2) {
        return {};
    }
    switch (lowered_ascii(text[1])) {
    case 'm':
        return kMacTag;
    case 'p':
        return kPhyTag;
    case 'e':
        return kExpromTag;
    case 'i':
        return kImageTag;
    default:
        return {};
    }
}

bool has_value_tag(const EntryTags& tags) {
    return tags.mac || tags.phy || tags.exprom;
}

bool has_any_tag(const EntryTags& tags) {
    return has_value_tag(tags) || tags.image;
}

// text begins with prefix when A to Z in text count as a to z.
bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char p, char c) { return p == lowered_ascii(c); });
}

// The entry that started reading first among those not yet closed by an "<image>".
struct Reader {
    bool reading = false;
    std::size_t openedAt = 0;
    bool hasValueTags = false;
};

// One pass over the file: each line's devices and tags, and what open entries make of them.
class Scan {
  public:
    Scan(UpdateDataCheck& check, bool keepValues) : check_(check), entries_(check, keepValues) {}

    void take(std::size_t number, std::string_view line) {
        if (firstListed_.empty()) {
            sawNul_ = sawNul_ || line.find('\0') != std::string_view::npos;
        }
        lineTags_.clear();
        look_at_less_than_signs(number, line);
        // Without a key, a tag or a mention of one, a line changes nothing.
        if (!opensSomething_) {
            return;
        }
        if (mentions_.empty()) {
            take_line_without_key(number);
        } else {
            take_key_line(number, line);
        }
    }

    // The lookup ends at a line past the cap: the entries still open find nothing.
    void stop_at_long_line(std::size_t number) {
        stoppedAtLongLine_ = true;
        report(number, "line longer than " + std::to_string(kMaxLineLength >> 20) +
                           " MiB: fwbforge2 stops reading here, so no device whose entry is "
                           "open here or listed after it is found");
        entries_.forget();
    }

    void finish() {
        if (!entries_.empty()) {
            report(entries_.oldest_key_line(),
                   "entry has no <image> before the end of the file: its image name is empty");
            entries_.close_all_at_end();
        }
        if (firstListed_.empty() && !stoppedAtLongLine_) {
            report_no_device();
        }
        std::vector<Finding>& findings = check_.findings;
        const auto order = [](const Finding& a, const Finding& b) {
            return std::tie(a.line, a.message) < std::tie(b.line, b.message);
        };
        const auto same = [](const Finding& a, const Finding& b) {
            return a.line == b.line && a.message == b.message;
        };
        std::sort(findings.begin(), findings.end(), order);
        findings.erase(std::unique(findings.begin(), findings.end(), same), findings.end());
    }

  private:
    void report(std::size_t line, std::string_view message) { check_.report(line, message); }

    void report_no_device() {
        std::string message = "no device entry in the file: fwbforge2 finds no device in it";
        if (sawNul_) {
            message += " (it holds NUL bytes: UTF-16 text, or not text at all)";
        }
        report(1, message);
    }

    // Takes the line's tags into lineTags_, what its other less-than signs begin into
    // opensSomething_ and mentions_; reports tags in another case, unseen by the scanner.
    void look_at_less_than_signs(std::size_t number, std::string_view line) {
        opensSomething_ = false;
        mentions_.clear();
        for (std::size_t at = line.find('<'); at != std::string_view::npos;) {
            const std::size_t next = line.find('<', at + 1);
            if (take_tag_at(line, at, next, lineTags_)) {
                opensSomething_ = true;
            } else {
                look_at_near_tag(number, line, at);
            }
            at = next;
        }
    }

    // A less-than sign that begins no tag: it may begin "<pciid", or a tag in another case.
    void look_at_near_tag(std::size_t number, std::string_view line, std::size_t at) {
        const std::string_view rest = line.substr(at);
        const std::string_view tag = tag_by_second_letter(rest);
        if (tag.empty()) {
            return;
        }
        opensSomething_ = true;
        if (tag == kPhyTag && starts_with_ignoring_case(rest, kPciidMention)) {
            mentions_.push_back(at);
        } else if (starts_with_ignoring_case(rest, tag)) {
            report(number, std::string(rest.substr(0, tag.size())) + " differs from " +
                               std::string(tag) + " only in case: fwbforge2 does not see it");
        }
    }

    void report_near_miss(std::size_t number, std::string_view line) {
        if (!is_key_line(line)) {
            report(number,
                   "mentions <pciid but not as \"<pciid vid=\" exactly: not a key line, no device "
                   "is found here");
        } else {
            report(number, "key line not written as <pciid vid=\"hhhh\" did=\"hhhh\" sdid=\"hhhh\" "
                           "svid=\"hhhh\" /> (that order, single blanks, a blank before />): no "
                           "device is found here");
        }
    }

    void report_tags_outside(std::size_t number, const EntryTags& tags) {
        const std::array<bool, kTags.size()> present = {tags.mac.has_value(), tags.phy.has_value(),
                                                        tags.exprom.has_value(),
                                                        tags.image.has_value()};
        for (std::size_t i = 0; i < kTags.size(); ++i) {
            if (present[i]) {
                report(number, std::string(kTags[i]) + " outside any entry: no device reads it");
            }
        }
    }

    void check_values_on(std::size_t number, const EntryTags& tags) {
        if (tags.exprom && tags.exprom->text != "True" && tags.exprom->text != "False") {
            report(number, "<exprom> value is neither \"True\" nor \"False\": it switches the "
                           "expansion ROM off");
        }
        if (tags.image && !tags.image->closed_by_less_than) {
            report(number, "<image> value runs to the end of the line: the file name carries the "
                           "line feed");
        }
    }

    // Most lines: every open entry reads the whole line, and none opens.
    void take_line_without_key(std::size_t number) {
        if (entries_.empty()) {
            report_tags_outside(number, lineTags_);
            return;
        }
        check_values_on(number, lineTags_);
        entries_.take_whole_line(number, lineTags_);
    }

    void take_key_line(std::size_t number, std::string_view line) {
        listedHere_.clear();
        starts_.clear();
        bool anyKey = false;
        const bool keyLine = is_key_line(line);
        for (std::size_t i = 0; keyLine && i < mentions_.size(); ++i) {
            const std::size_t at = mentions_[i];
            const std::optional<DeviceId> id = device_key_at(line, at);
            anyKey = anyKey || id.has_value();
            if (id && first_listing(number, *id)) {
                listedHere_.push_back(*id);
                starts_.push_back(at + kDeviceKeyLength);
            }
        }
        if (!anyKey) {
            report_near_miss(number, line);
        }
        // A line without tags has none in any of its parts.
        splitAtKeys_ = !starts_.empty() && has_any_tag(lineTags_);
        report_parts(number, line);
        entries_.take_whole_line(number, lineTags_);
        open_listed_here(number, line);
    }

    // True when this listing of id is its first; a later one opens nothing.
    bool first_listing(std::size_t number, DeviceId id) {
        const auto [first, isNew] = firstListed_.try_emplace(device_key(id), number);
        if (!isNew) {
            report(number, "device listed again; the listing at line " +
                               std::to_string(first->second) + " wins");
        }
        return isNew;
    }

    // Part i of a key line: up to the end of the i-th key that opens a device, from
    // the end of the one before. No tag straddles a part's end, and every value
    // closed inside a part but the last is closed there, as on the whole line.
    EntryTags part_tags(std::string_view line, std::size_t i) const {
        if (!splitAtKeys_) {
            return lineTags_;
        }
        const std::size_t from = i == 0 ? 0 : starts_[i - 1];
        const std::size_t to = i < starts_.size() ? starts_[i] : line.size();
        return find_entry_tags(line.substr(from, to - from));
    }

    // In line order: what no entry reads, the values taken, and an entry that
    // runs into the next device's key with values and no "<image>" before it.
    void report_parts(std::size_t number, std::string_view line) {
        Reader reader = first_reader();
        for (std::size_t i = 0; i <= starts_.size(); ++i) {
            const EntryTags tags = part_tags(line, i);
            if (i > 0 && reader.reading && reader.hasValueTags) {
                report(reader.openedAt, "entry has no <image> before line " +
                                            std::to_string(number) +
                                            ": it takes the next device's values");
            }
            if (i > 0 && !reader.reading) {
                reader = {true, number, false};
            }
            if (!reader.reading) {
                report_tags_outside(number, tags);
                continue;
            }
            check_values_on(number, tags);
            reader.hasValueTags = reader.hasValueTags || has_value_tag(tags);
            reader.reading = !tags.image;
        }
    }

    // An older open entry reads all that a younger one reads, so the oldest
    // holds value tags when any open entry does.
    Reader first_reader() const {
        if (entries_.empty()) {
            return {};
        }
        return {true, entries_.oldest_key_line(), entries_.oldest_has_value_tags()};
    }

    // Each device listed here reads the line after its own key. Walked from the
    // line's end, so that each device's tags are the next part's before the rest's.
    void open_listed_here(std::size_t number, std::string_view line) {
        entries_.list(number, listedHere_);
        EntryTags tail;
        for (std::size_t k = listedHere_.size(); k-- > 0;) {
            tail = followed_by(part_tags(line, k + 1), tail);
            entries_.read_after_key(k, tail);
        }
        entries_.open_listed(number);
    }

    UpdateDataCheck& check_;
    OpenEntries entries_;
    std::unordered_map<std::uint64_t, std::size_t> firstListed_; // device key -> line
    bool sawNul_ = false;
    bool stoppedAtLongLine_ = false;
    // Per line, kept to reuse their storage.
    EntryTags lineTags_;
    bool opensSomething_ = false;       // a key, a tag or a mention of "<pciid" may begin on it
    std::vector<std::size_t> mentions_; // where "<pciid" begins, in any case
    std::vector<DeviceId> listedHere_;  // first listings on the line, in line order
    std::vector<std::size_t> starts_;   // where each of them starts reading
    bool splitAtKeys_ = false;
};

} // namespace

std::string_view UpdateDataCheck::hold(std::string_view text) {
    return *texts_.emplace(text).first;
}

void UpdateDataCheck::report(std::size_t line, std::string_view message) {
    findings.push_back({line, hold(message)});
}

struct UpdateDataReading::State {
    State(UpdateDataCheck& check, const CheckOptions& options)
        : check(check), options(options), scan(check, options.keepValues) {}

    UpdateDataCheck& check;
    const CheckOptions options;
    std::string path;
    platform::File file;
    std::optional<LineReader> reader;
    // Made only when asked: the digest library's first use costs a few milliseconds.
    std::optional<HashStream> hash;
    Scan scan;
    std::size_t number = 0;
    bool ended = false;
};

UpdateDataReading::UpdateDataReading(UpdateDataCheck& check, const CheckOptions& options)
    : state_(std::make_unique<State>(check, options)) {}

UpdateDataReading::~UpdateDataReading() = default;

Result<> UpdateDataReading::open(std::string_view path) {
    State& state = *state_;
    state.path = path;
    if (const platform::Error error = platform::open_for_reading(path, state.file);
        error.failed()) {
        return failure_of(PROVKIT_ERR_FILE, Check::update_data_unreadable, path, error);
    }
    state.reader.emplace(state.file);
    if (state.options.digest && is_regular(state.file)) {
        state.reader->hash_into(state.hash.emplace());
    }
    return {};
}

void UpdateDataReading::open_written(const platform::File& file, std::string_view path) {
    State& state = *state_;
    state.path = path;
    state.reader.emplace(file, LineReader::FromStart{});
    if (state.options.digest && is_regular(file)) {
        state.reader->hash_into(state.hash.emplace());
    }
}

bool UpdateDataReading::read_some() {
    State& state = *state_;
    const std::size_t had = state.check.devices.size();
    std::string_view line;
    while (!state.ended && state.check.devices.size() == had) {
        state.ended = !state.reader->next_view(line);
        if (!state.ended) {
            state.scan.take(++state.number, line);
        }
    }
    return !state.ended;
}

Result<> UpdateDataReading::finish() {
    State& state = *state_;
    while (read_some()) {
    }
    LineReader& reader = *state.reader;
    if (reader.failed()) {
        return failure_of(PROVKIT_ERR_FILE, Check::update_data_unreadable, state.path,
                          reader.error());
    }
    if (reader.line_too_long()) {
        state.check.lineTooLong = true;
        state.scan.stop_at_long_line(state.number + 1);
    }
    state.scan.finish();
    if (state.hash && reader.read_to_end()) {
        if (const Result<DigestValue> digest = state.hash->finish()) {
            state.check.fileDigest = *digest;
        }
    }
    return {};
}

Result<> check_update_data(std::string_view path, UpdateDataCheck& check,
                           const CheckOptions& options) {
    UpdateDataReading reading(check, options);
    if (Result<> opened = reading.open(path); !opened) {
        return opened;
    }
    return reading.finish();
}
