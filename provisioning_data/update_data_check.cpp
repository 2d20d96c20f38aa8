#include "provisioning_data/update_data_check.h"

#include "provisioning_data/board_data_stage.h"
#include "provisioning_data/device_key.h"
#include "provisioning_data/first_listings.h"
#include "provisioning_data/line_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <map>
#include <span>
#include <tuple>

namespace {

constexpr std::string_view kPciidMention = "<pciid";
constexpr std::array<std::string_view, 4> kTags = {kMacTag, kPhyTag, kExpromTag, kImageTag};

// The tag whose second letter (in any case) text's is: the one place a tag
// written in another case, or "<pciid" (which shares <phy>'s), can begin.
std::string_view tag_by_second_letter(std::string_view text) {
    if (text.size() < 2) {
        return {};
    }
    switch (text[1]) {
    case 'm':
    case 'M':
        return kMacTag;
    case 'p':
    case 'P':
        return kPhyTag;
    case 'e':
    case 'E':
        return kExpromTag;
    case 'i':
    case 'I':
        return kImageTag;
    default:
        return {};
    }
}

std::uint64_t key_of(DeviceId id) {
    return std::uint64_t{id.vid} << 48 | std::uint64_t{id.did} << 32 |
           std::uint64_t{id.svid} << 16 | id.ssid;
}

bool has_value_tag(const EntryTags& tags) {
    return tags.mac || tags.phy || tags.exprom;
}

bool has_any_tag(const EntryTags& tags) {
    return has_value_tag(tags) || tags.image;
}

std::string line_number(std::size_t line) {
    return std::to_string(line);
}

// text begins with prefix when A to Z in text count as a to z.
bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char p, char c) { return p == lowered_ascii(c); });
}

// The offset of the first less-than sign among eight bytes, or 8: a byte is
// marked in its high bit when it is one, without carries between bytes.
std::size_t first_less_than_in_word(const char* bytes) {
    constexpr std::uint64_t kLowBits = 0x7f7f7f7f7f7f7f7f;
    constexpr std::uint64_t kLessThans = 0x3c3c3c3c3c3c3c3c;
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    const std::uint64_t zeroWhereLessThan = word ^ kLessThans;
    const std::uint64_t marks =
        ~(((zeroWhereLessThan & kLowBits) + kLowBits) | zeroWhereLessThan | kLowBits);
    const int before = std::endian::native == std::endian::little ? std::countr_zero(marks)
                                                                  : std::countl_zero(marks);
    return static_cast<std::size_t>(before) / 8;
}

// Where the next less-than sign from from is. Lines hold few, mostly after
// their indent and before their end, so the eight bytes from from are looked
// at as one word before a call looks further.
std::size_t next_less_than(std::string_view line, std::size_t from) {
    constexpr std::size_t kWord = 8;
    if (from + kWord <= line.size()) {
        if (const std::size_t at = first_less_than_in_word(line.data() + from); at < kWord) {
            return from + at;
        }
        return line.find('<', from + kWord);
    }
    for (std::size_t at = from; at < line.size(); ++at) {
        if (line[at] == '<') {
            return at;
        }
    }
    return std::string_view::npos;
}

void forget_tags(EntryTags& tags) {
    tags.mac.reset();
    tags.phy.reset();
    tags.exprom.reset();
    tags.image.reset();
}

// The parts of a line that start where an entry starts reading it: at the line's
// start for the entries already open, after its key for each device it opens.
// No tag can straddle a part's end, and every value closed inside a part but
// the last is closed there by the next key's less-than sign, as on the whole line.
void split_at(std::string_view line, const std::vector<std::size_t>& starts,
              std::vector<std::string_view>& parts) {
    parts.clear();
    std::size_t from = 0;
    for (const std::size_t start : starts) {
        parts.push_back(line.substr(from, start - from));
        from = start;
    }
    parts.push_back(line.substr(from));
}

// Devices whose entry has not met its "<image>" and that so far took the same values.
struct Cohort {
    std::size_t openedAt = 0;
    std::vector<std::size_t> devices;
    EntryValues values;
    std::size_t macLine = 0;
    std::size_t phyLine = 0;
    bool hasValueTags = false;
    bool sawMac = false;
    bool sawPhy = false;

    auto taken() const {
        return std::tie(values.macText, values.phyText, values.exprom, macLine, phyLine, sawMac,
                        sawPhy);
    }
};

// The open cohorts, then spare ones: a cohort opened later reuses a spare's
// storage, so that a device's entry costs no allocation.
class Cohorts {
  public:
    bool empty() const { return open_ == 0; }
    std::span<Cohort> open() { return std::span(cohorts_).first(open_); }
    std::span<const Cohort> open() const { return std::span(cohorts_).first(open_); }

    void open_new(std::size_t number, std::size_t device) {
        if (open_ == cohorts_.size()) {
            cohorts_.emplace_back();
        }
        Cohort& cohort = cohorts_[open_++];
        cohort.openedAt = number;
        cohort.devices.assign(1, device);
        cohort.values.macText.clear();
        cohort.values.phyText.clear();
        cohort.values.imageName.clear();
        cohort.values.exprom = kExpromUntilTagged;
        cohort.macLine = 0;
        cohort.phyLine = 0;
        cohort.hasValueTags = false;
        cohort.sawMac = false;
        cohort.sawPhy = false;
    }

    // Keeps, in order, the open cohorts that keep marks; the others become spares.
    void keep_marked(const std::vector<char>& keep) {
        std::size_t kept = 0;
        for (std::size_t k = 0; k < open_; ++k) {
            if (keep[k] != 0) {
                swap_unless_same(kept, k);
                ++kept;
            }
        }
        open_ = kept;
    }

    // Cohorts that hold the same values stay alike on every later line, which
    // they read whole, so the work per line stays small however many devices
    // the entries list. Sorted, so many distinct cohorts cost no more than that.
    void merge_alike() {
        const auto end = cohorts_.begin() + static_cast<std::ptrdiff_t>(open_);
        std::sort(cohorts_.begin(), end,
                  [](const Cohort& a, const Cohort& b) { return a.taken() < b.taken(); });
        std::size_t kept = 0;
        for (std::size_t k = 0; k < open_; ++k) {
            if (kept > 0 && cohorts_[kept - 1].taken() == cohorts_[k].taken()) {
                Cohort& into = cohorts_[kept - 1];
                const Cohort& from = cohorts_[k];
                into.devices.insert(into.devices.end(), from.devices.begin(), from.devices.end());
                into.openedAt = std::min(into.openedAt, from.openedAt);
                into.hasValueTags = into.hasValueTags || from.hasValueTags;
                continue;
            }
            swap_unless_same(kept, k);
            ++kept;
        }
        open_ = kept;
    }

    void close_all() { open_ = 0; }

  private:
    void swap_unless_same(std::size_t a, std::size_t b) {
        if (a != b) {
            std::swap(cohorts_[a], cohorts_[b]);
        }
    }

    std::vector<Cohort> cohorts_;
    std::size_t open_ = 0;
};

// One pass over the file, with every device whose entry is open at this line.
class Scan {
  public:
    Scan(DeviceListing& listing, UpdateDataCheck& check)
        : listing_(listing), check_(check), wantsValues_(listing.wants_values()) {}

    void take(std::size_t number, std::string_view line) {
        if (firstListing_.empty()) {
            sawNul_ = sawNul_ || line.find('\0') != std::string_view::npos;
        }
        // Reset in place: a fresh EntryTags a line costs more than the line's scan.
        forget_tags(lineTags_);
        look_at_less_than_signs(number, line, lineTags_);
        // Without a key, a tag or a mention of one, a line changes nothing.
        if (!opensSomething_) {
            return;
        }
        opened_.clear();
        if (mentions_.empty()) {
            take_line_without_key(number, lineTags_);
            return;
        }
        keys_.clear();
        if (is_key_line(line)) {
            for (const std::size_t at : mentions_) {
                if (const std::optional<DeviceId> id = device_key_at(line, at)) {
                    keys_.push_back({*id, at});
                }
            }
        }
        if (keys_.empty()) {
            report_near_miss(number, line);
        }
        starts_.clear();
        for (const KeyAt& key : keys_) {
            if (const std::optional<std::size_t> device = list_device(number, key.id)) {
                opened_.push_back(*device);
                starts_.push_back(key.at + kDeviceKeyLength);
            }
        }
        if (!starts_.empty() && has_any_tag(lineTags_)) {
            split_at(line, starts_, parts_);
            partTags_.clear();
            for (const std::string_view part : parts_) {
                partTags_.push_back(find_entry_tags(part));
            }
        } else {
            // A line without tags has none in any of its parts (copied: zeroing costs more).
            partTags_.assign(starts_.size() + 1, lineTags_);
        }
        report_parts(number);
        take_tags(number);
        list_closed_devices();
    }

    // The lookup ends at a line past the cap: the entries still open find nothing.
    void stop_at_long_line(std::size_t number) {
        stoppedAtLongLine_ = true;
        report(number, "line longer than " + std::to_string(kMaxLineLength >> 20) +
                           " MiB: fwbforge2 stops reading here, so no device whose entry is "
                           "open here or listed after it is found");
        for (std::size_t i = listedUpTo_; i < pending_.size(); ++i) {
            if (pending_[i].closed) {
                list(i);
            }
        }
        pending_.clear();
        pendingValues_.clear();
        listedUpTo_ = 0;
        cohorts_.close_all();
    }

    void finish() {
        if (!cohorts_.empty()) {
            report(first_open_key_line(),
                   "entry has no <image> before the end of the file: its image name is empty");
            for (const Cohort& cohort : cohorts_.open()) {
                close_cohort(cohort, 0);
            }
            cohorts_.close_all();
        }
        list_closed_devices();
        if (firstListing_.empty() && !stoppedAtLongLine_) {
            report_no_device();
        }
        std::sort(check_.findings.begin(), check_.findings.end(),
                  [](const Finding& a, const Finding& b) {
                      return std::tie(a.line, a.message) < std::tie(b.line, b.message);
                  });
        const auto same = [](const Finding& a, const Finding& b) {
            return a.line == b.line && a.message == b.message;
        };
        check_.findings.erase(std::unique(check_.findings.begin(), check_.findings.end(), same),
                              check_.findings.end());
    }

  private:
    // The entry that started reading first among those not yet closed by an "<image>".
    struct Reader {
        bool reading = false;
        std::size_t openedAt = 0;
        bool hasValueTags = false;
    };

    struct KeyAt {
        DeviceId id;
        std::size_t at = 0; // where the key starts on the line
    };

    // A device listed, in listing order; closed once its entry was read to its end.
    struct Pending {
        ListedDevice device;
        bool closed = false;
    };

    std::size_t first_open_key_line() const {
        std::size_t line = SIZE_MAX;
        for (const Cohort& cohort : cohorts_.open()) {
            line = std::min(line, cohort.openedAt);
        }
        return line;
    }

    // An older open entry reads all that a younger one reads, so it holds
    // value tags when any open entry does.
    Reader first_reader() const {
        if (cohorts_.empty()) {
            return {};
        }
        const std::span<const Cohort> open = cohorts_.open();
        const bool hasValueTags =
            std::any_of(open.begin(), open.end(), [](const Cohort& c) { return c.hasValueTags; });
        return {true, first_open_key_line(), hasValueTags};
    }

    void report(std::size_t line, std::string_view message) {
        check_.findings.push_back({line, check_.hold(message)});
    }

    void report_no_device() {
        std::string message = "no device entry in the file: fwbforge2 finds no device in it";
        if (sawNul_) {
            message += " (it holds NUL bytes: UTF-16 text, or not text at all)";
        }
        report(1, message);
    }

    // Takes the line's tags into tags and what its other less-than signs begin
    // into opensSomething_ and mentions_, and reports tags written in another
    // case, which the scanner does not see.
    void look_at_less_than_signs(std::size_t number, std::string_view line, EntryTags& tags) {
        opensSomething_ = false;
        mentions_.clear();
        for (std::size_t at = next_less_than(line, 0); at != std::string_view::npos;) {
            const std::size_t next = next_less_than(line, at + 1);
            if (take_tag_at(line, at, next, tags)) {
                opensSomething_ = true;
            } else {
                look_at_near_tag(number, line, at);
            }
            at = next;
        }
    }

    // A less-than sign that begins no tag: it may begin "<pciid", or a tag in
    // another case.
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
        if (!has_any_tag(tags)) {
            return;
        }
        const std::array<bool, kTags.size()> present = {tags.mac.has_value(), tags.phy.has_value(),
                                                        tags.exprom.has_value(),
                                                        tags.image.has_value()};
        for (std::size_t i = 0; i < kTags.size(); ++i) {
            if (present[i]) {
                report(number, std::string(kTags[i]) + " outside any entry: no device reads it");
            }
        }
    }

    // The number of a device listed for the first time; a later listing opens nothing.
    std::optional<std::size_t> list_device(std::size_t number, DeviceId id) {
        if (const std::optional<std::size_t> first = firstListing_.list(key_of(id), number)) {
            report(number,
                   "device listed again; the listing at line " + line_number(*first) + " wins");
            return std::nullopt;
        }
        // Filled in place: a copy of a record just written stalls on its fields.
        Pending& pending = pending_.emplace_back();
        pending.device.id = id;
        pending.device.keyLine = number;
        if (wantsValues_) {
            pendingValues_.emplace_back();
        }
        return firstPending_ + pending_.size() - 1;
    }

    // The i-th pending device.
    void list(std::size_t i) {
        static const EntryValues kNotKept;
        listing_.list(pending_[i].device, wantsValues_ ? pendingValues_[i] : kNotKept);
        ++check_.devices;
    }

    // Devices close in the order they were listed, all those on a line at once.
    void list_closed_devices() {
        while (listedUpTo_ < pending_.size() && pending_[listedUpTo_].closed) {
            list(listedUpTo_);
            ++listedUpTo_;
        }
        // Mostly at once: few entries are open at a time.
        if (listedUpTo_ == pending_.size()) {
            firstPending_ += pending_.size();
            pending_.clear();
            pendingValues_.clear();
            listedUpTo_ = 0;
        }
    }

    // In line order: what no entry reads, the values taken, and an entry that
    // runs into the next device's key with values and no "<image>" before it.
    void report_parts(std::size_t number) {
        Reader reader = first_reader();
        for (std::size_t i = 0; i < partTags_.size(); ++i) {
            if (i > 0 && reader.reading && reader.hasValueTags) {
                report(reader.openedAt, "entry has no <image> before line " + line_number(number) +
                                            ": it takes the next device's values");
            }
            if (i > 0 && !reader.reading) {
                reader = {true, number, false};
            }
            if (!reader.reading) {
                report_tags_outside(number, partTags_[i]);
                continue;
            }
            check_values_on(number, partTags_[i]);
            reader.hasValueTags = reader.hasValueTags || has_value_tag(partTags_[i]);
            reader.reading = !partTags_[i].image;
        }
    }

    // Most lines: every open entry reads the whole line, and none opens.
    void take_line_without_key(std::size_t number, const EntryTags& tags) {
        if (cohorts_.empty()) {
            report_tags_outside(number, tags);
            return;
        }
        check_values_on(number, tags);
        take_into_open(number, cohorts_.open().size());
        list_closed_devices();
    }

    // The tags the k-th open entry reads on this line: the whole line's, or,
    // for one that opens here or before on a line that opens some, readFrom_'s.
    const EntryTags& tags_read_by(std::size_t k, std::size_t alreadyOpen) const {
        if (opened_.empty()) {
            return lineTags_;
        }
        return k < alreadyOpen ? readFrom_.front() : readFrom_[k - alreadyOpen + 1];
    }

    // Every open entry takes what it reads on this line; those that end close.
    void take_into_open(std::size_t number, std::size_t alreadyOpen) {
        const std::span<Cohort> open = cohorts_.open();
        keep_.resize(open.size());
        bool anyEnded = false;
        for (std::size_t k = 0; k < open.size(); ++k) {
            const bool ended = take_into(open[k], tags_read_by(k, alreadyOpen), number);
            if (ended) {
                close_cohort(open[k], number);
            }
            keep_[k] = ended ? 0 : 1;
            anyEnded = anyEnded || ended;
        }
        if (anyEnded) {
            cohorts_.keep_marked(keep_);
        }
        if (cohorts_.open().size() > 1) {
            cohorts_.merge_alike();
        }
    }

    // True when the tags end the cohort's entry.
    static bool take_into(Cohort& cohort, const EntryTags& tags, std::size_t number) {
        // A value that changes comes from this line.
        if (writes_value(tags.mac) && tags.mac->text != cohort.values.macText) {
            cohort.macLine = number;
        }
        if (writes_value(tags.phy) && tags.phy->text != cohort.values.phyText) {
            cohort.phyLine = number;
        }
        const bool ended = take_entry_tags(tags, cohort.values);
        cohort.hasValueTags = cohort.hasValueTags || has_value_tag(tags);
        cohort.sawMac = cohort.sawMac || tags.mac.has_value();
        cohort.sawPhy = cohort.sawPhy || tags.phy.has_value();
        return ended;
    }

    // The entries already open read the whole line; each one opened here the
    // text after its key.
    void take_tags(std::size_t number) {
        if (cohorts_.empty() && opened_.empty()) {
            return;
        }
        if (!opened_.empty()) {
            readFrom_.resize(partTags_.size());
            readFrom_.back() = partTags_.back();
            for (std::size_t i = partTags_.size() - 1; i > 0; --i) {
                readFrom_[i - 1] = followed_by(partTags_[i - 1], readFrom_[i]);
            }
        }
        const std::size_t alreadyOpen = cohorts_.open().size();
        for (const std::size_t device : opened_) {
            cohorts_.open_new(number, device);
        }
        take_into_open(number, alreadyOpen);
    }

    void close_cohort(const Cohort& cohort, std::size_t imageLine) {
        const std::optional<std::uint16_t> macBytes =
            check_blob(cohort.macLine, "MAC", cohort.values.macText);
        const std::optional<std::uint16_t> phyBytes =
            check_blob(cohort.phyLine, "PHY", cohort.values.phyText);
        const std::string_view imageName = held_image_name(cohort.values.imageName);
        if (imageLine != 0) {
            check_image_name(imageName, imageLine);
        }
        for (const std::size_t number : cohort.devices) {
            Pending& pending = pending_[number - firstPending_];
            pending.closed = true;
            ListedDevice& device = pending.device;
            device.macBytes = macBytes;
            device.phyBytes = phyBytes;
            device.exprom = cohort.values.exprom;
            device.imageName = imageName;
            device.imageLine = imageLine;
            if (wantsValues_) {
                pendingValues_[number - firstPending_] = cohort.values;
            }
            if (!cohort.sawMac) {
                report(device.keyLine,
                       "entry has no <mac> tag: fwbforge2 gives the device an empty MAC blob");
            }
            if (!cohort.sawPhy) {
                report(device.keyLine,
                       "entry has no <phy> tag: fwbforge2 gives the device an empty PHY blob");
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

    std::optional<std::uint16_t> check_blob(std::size_t line, std::string_view name,
                                            std::string_view text) {
        switch (check_hex_text(text, kBlobCapacity)) {
        case PROVKIT_OK:
            return static_cast<std::uint16_t>(text.size() / 2);
        case PROVKIT_ERR_ODD_HEX:
            report(line, std::string(name) + " text has an odd length (" +
                             std::to_string(text.size()) + " characters)");
            return std::nullopt;
        case PROVKIT_ERR_BAD_HEX:
            report(line, std::string(name) + " text holds a character that is not a hex digit");
            return std::nullopt;
        default:
            report(line, std::string(name) + " text is longer than 1024 bytes (" +
                             std::to_string(text.size() / 2) + " bytes)");
            return std::nullopt;
        }
    }

    // Entries mostly name the image the one before named.
    std::string_view held_image_name(std::string_view name) {
        if (lastImageName_ != name) {
            lastImageName_ = check_.hold(name);
        }
        return lastImageName_;
    }

    // Each name is looked up once, however many devices name it.
    void check_image_name(std::string_view name, std::size_t imageLine) {
        if (lastChecked_ == nullptr || lastChecked_->first.data() != name.data()) {
            auto [known, inserted] = imageIsFile_.try_emplace(name, false);
            if (inserted) {
                platform::FileInfo info;
                known->second = !platform::info_of_path(name, info).failed() &&
                                info.kind == platform::FileKind::regular;
            }
            lastChecked_ = &*known;
        }
        if (!lastChecked_->second) {
            report(imageLine, "image name names no file in the working directory");
        }
    }

    DeviceListing& listing_;
    UpdateDataCheck& check_;
    FirstListings firstListing_;
    std::vector<Pending> pending_; // from the first device not yet listed, or a few before
    // Each pending device's values, beside pending_, only for a listing that wants them: the
    // strings would cost every other check time.
    const bool wantsValues_;
    std::vector<EntryValues> pendingValues_;
    std::size_t firstPending_ = 0; // the number of pending_'s first device
    std::size_t listedUpTo_ = 0;   // pending_'s devices before this one are listed
    Cohorts cohorts_;
    std::map<std::string_view, bool> imageIsFile_; // by held name
    const std::pair<const std::string_view, bool>* lastChecked_ = nullptr;
    std::string_view lastImageName_;
    bool sawNul_ = false;
    bool stoppedAtLongLine_ = false;
    // Per line, kept to reuse their storage.
    bool opensSomething_ = false;       // a key, a tag or a mention of "<pciid" may begin on it
    std::vector<std::size_t> mentions_; // where "<pciid" begins, in any case
    std::vector<KeyAt> keys_;
    std::vector<std::size_t> opened_;
    std::vector<std::size_t> starts_;
    std::vector<std::string_view> parts_;
    EntryTags lineTags_;
    std::vector<EntryTags> partTags_;
    std::vector<EntryTags> readFrom_;
    std::vector<char> keep_;
};

} // namespace

std::string_view UpdateDataCheck::hold(std::string_view text) {
    auto held = texts_.find(text);
    if (held == texts_.end()) {
        held = texts_.emplace(text).first;
    }
    return *held;
}

Status check_update_data(std::string_view path, DeviceListing& listing, UpdateDataCheck& check,
                         platform::Error& error) {
    platform::File file;
    error = platform::open_for_reading(path, file);
    if (error.failed()) {
        return PROVKIT_ERR_FILE;
    }
    LineReader reader(file);
    Scan scan(listing, check);
    std::size_t number = 0;
    for (std::string_view line; reader.next_view(line);) {
        scan.take(++number, line);
    }
    if (reader.failed()) {
        error = reader.error();
        return PROVKIT_ERR_FILE;
    }
    if (reader.line_too_long()) {
        check.lineTooLong = true;
        scan.stop_at_long_line(number + 1);
    }
    scan.finish();
    return PROVKIT_OK;
}
