#include "provisioning_data/update_data_check.h"

#include "provisioning_data/board_data_stage.h"
#include "provisioning_data/device_key.h"
#include "provisioning_data/line_reader.h"

#include <algorithm>
#include <array>
#include <deque>
#include <tuple>
#include <unordered_map>

namespace {

constexpr std::string_view kPciidMention = "<pciid";
constexpr std::array<std::string_view, 4> kTags = {kMacTag, kPhyTag, kExpromTag, kImageTag};

using SharedText = std::shared_ptr<const std::string>;

const SharedText& empty_text() {
    static const SharedText empty = std::make_shared<const std::string>();
    return empty;
}

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

// text begins with prefix when A to Z in text count as a to z.
bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char p, char c) { return p == lowered_ascii(c); });
}

std::string_view written_or_empty(const std::optional<TagValue>& value) {
    return writes_value(value) ? value->text : std::string_view();
}

constexpr std::size_t kMac = 0;
constexpr std::size_t kPhy = 1;
constexpr std::size_t kImage = 2;
constexpr std::array<std::string_view, 2> kBlobNames = {kMacName, kPhyName};
constexpr std::uint32_t kNoTail = UINT32_MAX;
constexpr std::uint8_t kNoExprom = 2;
constexpr std::array<std::uint8_t, 2> kSawBlob = {1, 2};
constexpr std::uint8_t kSawValueTag = 4;
constexpr std::uint8_t kSawImage = 8;

// A device whose entry is open, as small as it can be: a file may list millions.
// Its blob tags as it read them after its key are indices into the tails the
// scan keeps; once a later line wrote one, blobLine is the line its value came
// from as of blobEpoch.
struct OpenDevice {
    DeviceId id;
    std::size_t keyLine = 0;
    std::array<std::size_t, 2> blobLine{};
    std::array<std::uint32_t, 2> blobTail{kNoTail, kNoTail};
    std::array<std::uint32_t, 2> blobEpoch{};
    std::uint32_t imageTail = kNoTail;
    std::uint8_t tailExprom = kNoExprom;
    std::uint8_t tailTags = 0; // kSawMac, kSawPhy, kSawValueTag, kSawImage after the key
};

// What the lines after their key lines wrote into a blob tag. Every open entry
// reads those lines whole, so one record serves them all: a value is held once.
struct BlobWrites {
    SharedText value;            // the last value written
    std::size_t lastSeen = 0;    // the last line with the tag, writing or not
    std::uint32_t epoch = 0;     // grows with every write that changes the value
    std::size_t epochLine = 0;   // the line of that write
    std::size_t reachedUpTo = 0; // the open devices before this one have met a write
};

// A blob's value for a device and the line it came from: the first line of the
// last run of writes that left it so.
struct BlobValue {
    const SharedText* text = nullptr;
    std::size_t line = 0;
};

// The entry that started reading first among those not yet closed by an "<image>".
struct Reader {
    bool reading = false;
    std::size_t openedAt = 0;
    bool hasValueTags = false;
};

// One pass over the file. The open entries are the devices listed since the
// last "<image>" that closed them, in listing order: an "<image>" on a line they
// read whole closes them all at once.
class Scan {
  public:
    Scan(UpdateDataCheck& check, bool keepValues) : check_(check), keepValues_(keepValues) {}

    void take(std::size_t number, std::string_view line) {
        if (firstListed_.empty()) {
            sawNul_ = sawNul_ || line.find('\0') != std::string_view::npos;
        }
        lineTags_ = {};
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
        forget_open();
    }

    void finish() {
        if (!open_.empty()) {
            report(open_.front().keyLine,
                   "entry has no <image> before the end of the file: its image name is empty");
            close_open(0, empty_text());
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

    // Takes the line's tags into lineTags_ and what its other less-than signs
    // begin into opensSomething_ and mentions_, and reports tags written in
    // another case, which the scanner does not see.
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
        if (open_.empty()) {
            report_tags_outside(number, lineTags_);
            return;
        }
        check_values_on(number, lineTags_);
        take_whole_line(number);
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
        take_whole_line(number);
        open_listed_here(number, line);
    }

    // True when this listing of id is its first; a later one opens nothing.
    bool first_listing(std::size_t number, DeviceId id) {
        const auto [first, isNew] = firstListed_.try_emplace(key_of(id), number);
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
        if (open_.empty()) {
            return {};
        }
        const OpenDevice& oldest = open_.front();
        return {true, oldest.keyLine,
                (oldest.tailTags & kSawValueTag) != 0 || valueTagLine_ > oldest.keyLine};
    }

    // Every open entry takes the line's tags; an "<image>" among them closes them all.
    void take_whole_line(std::size_t number) {
        if (open_.empty()) {
            return;
        }
        take_blob_tag(kMac, number, lineTags_.mac);
        take_blob_tag(kPhy, number, lineTags_.phy);
        if (lineTags_.exprom) {
            expromLine_ = number;
            expromValue_ = exprom_switch(lineTags_.exprom->text);
        }
        if (has_value_tag(lineTags_)) {
            valueTagLine_ = number;
        }
        if (lineTags_.image) {
            close_open(number, image_name(*lineTags_.image));
        }
    }

    void take_blob_tag(std::size_t blob, std::size_t number, const std::optional<TagValue>& tag) {
        if (!tag) {
            return;
        }
        BlobWrites& writes = writes_[blob];
        writes.lastSeen = number;
        if (!writes_value(tag)) {
            return;
        }
        const std::string_view text = tag->text;
        const bool changes = writes.value == nullptr || *writes.value != text;
        if (changes) {
            writes.value = std::make_shared<const std::string>(text);
            ++writes.epoch;
            writes.epochLine = number;
        }
        // Devices that met no write yet had their own value: it changes here unless
        // it was this one. Each device is met so once, the rest follow the epoch.
        std::uint32_t comparedTail = kNoTail;
        bool tailIsText = false;
        for (std::size_t i = writes.reachedUpTo; i < open_.size(); ++i) {
            OpenDevice& device = open_[i];
            const std::uint32_t tail = device.blobTail[blob];
            if (tail != comparedTail || comparedTail == kNoTail) {
                comparedTail = tail;
                tailIsText = *tail_text(tail) == text;
            }
            device.blobLine[blob] = tailIsText ? tail_line(tail, device.keyLine) : number;
            device.blobEpoch[blob] = writes.epoch;
        }
        writes.reachedUpTo = open_.size();
    }

    const SharedText& tail_text(std::uint32_t tail) const {
        return tail == kNoTail ? empty_text() : tails_[tail];
    }

    // A value from the key line counts as taken there unless it is empty, as
    // every entry starts out empty.
    std::size_t tail_line(std::uint32_t tail, std::size_t keyLine) const {
        return tail_text(tail)->empty() ? 0 : keyLine;
    }

    BlobValue blob_value(const OpenDevice& device, std::size_t blob, std::size_t index) const {
        const BlobWrites& writes = writes_[blob];
        const std::uint32_t tail = device.blobTail[blob];
        if (index >= writes.reachedUpTo) {
            return {&tail_text(tail), tail_line(tail, device.keyLine)};
        }
        return {&writes.value,
                device.blobEpoch[blob] == writes.epoch ? device.blobLine[blob] : writes.epochLine};
    }

    // A value read after a key, held once: keys after one another on a line
    // mostly read the same occurrence of each tag.
    std::uint32_t tail_of(std::size_t kind, const std::optional<TagValue>& tag) {
        if (!writes_value(tag)) {
            return kNoTail;
        }
        const std::string_view text = tag->text;
        LastTail& last = lastTails_[kind];
        if (last.at != text.data() || last.size != text.size()) {
            last = {text.data(), text.size(), static_cast<std::uint32_t>(tails_.size())};
            tails_.push_back(std::make_shared<const std::string>(text));
        }
        return last.index;
    }

    // Each device listed here reads the line after its own key. Walked from the
    // line's end, so that each device's tags are the next part's before the rest's.
    // Those whose text holds an "<image>" close at once, and come first.
    void open_listed_here(std::size_t number, std::string_view line) {
        const std::size_t first = open_.size();
        open_.resize(first + listedHere_.size());
        lastTails_ = {};
        EntryTags tail;
        for (std::size_t k = listedHere_.size(); k-- > 0;) {
            tail = followed_by(part_tags(line, k + 1), tail);
            OpenDevice& device = open_[first + k];
            device.id = listedHere_[k];
            device.keyLine = number;
            device.blobTail = {tail_of(kMac, tail.mac), tail_of(kPhy, tail.phy)};
            device.imageTail = tail_of(kImage, tail.image);
            device.tailExprom = tail.exprom
                                    ? static_cast<std::uint8_t>(exprom_switch(tail.exprom->text))
                                    : kNoExprom;
            device.tailTags = static_cast<std::uint8_t>(
                (tail.mac ? kSawBlob[kMac] : 0) | (tail.phy ? kSawBlob[kPhy] : 0) |
                (has_value_tag(tail) ? kSawValueTag : 0) | (tail.image ? kSawImage : 0));
        }
        std::size_t closed = first;
        while (closed < open_.size() && (open_[closed].tailTags & kSawImage) != 0) {
            close_device(open_[closed], SIZE_MAX, number, tail_text(open_[closed].imageTail));
            ++closed;
        }
        // Only a line with an "<image>" closes any, and it closed the older ones before.
        open_.erase(open_.begin() + static_cast<std::ptrdiff_t>(first),
                    open_.begin() + static_cast<std::ptrdiff_t>(closed));
        if (open_.empty()) {
            tails_.clear();
        }
    }

    SharedText image_name(const TagValue& tag) {
        const std::string_view name = written_or_empty(tag);
        if (lastImage_ == nullptr || *lastImage_ != name) {
            lastImage_ = std::make_shared<const std::string>(name);
        }
        return lastImage_;
    }

    void close_open(std::size_t imageLine, const SharedText& imageName) {
        for (std::size_t i = 0; i < open_.size(); ++i) {
            close_device(open_[i], i, imageLine, imageName);
        }
        forget_open();
    }

    void forget_open() {
        open_.clear();
        tails_.clear();
        for (BlobWrites& writes : writes_) {
            writes.reachedUpTo = 0;
        }
    }

    void close_device(const OpenDevice& device, std::size_t index, std::size_t imageLine,
                      const SharedText& imageName) {
        const BlobValue mac = blob_value(device, kMac, index);
        const BlobValue phy = blob_value(device, kPhy, index);
        ListedDevice& listed = check_.devices.emplace_back();
        listed.id = device.id;
        listed.keyLine = device.keyLine;
        listed.imageLine = imageLine;
        listed.macBytes = checked_blob(kMac, mac);
        listed.phyBytes = checked_blob(kPhy, phy);
        listed.exprom = expromLine_ > device.keyLine     ? expromValue_
                        : device.tailExprom != kNoExprom ? device.tailExprom
                                                         : kExpromUntilTagged;
        listed.imageName = held_image_name(imageName);
        if (imageLine != 0) {
            check_image_name(listed.imageName, imageLine);
        }
        for (const std::size_t blob : {kMac, kPhy}) {
            if ((device.tailTags & kSawBlob[blob]) == 0 &&
                writes_[blob].lastSeen <= device.keyLine) {
                report(device.keyLine, blob == kMac ? "entry has no <mac> tag: fwbforge2 gives "
                                                      "the device an empty MAC blob"
                                                    : "entry has no <phy> tag: fwbforge2 gives "
                                                      "the device an empty PHY blob");
            }
        }
        if (keepValues_) {
            check_.values.push_back(values_of(*mac.text, *phy.text, listed.exprom, imageName));
        }
    }

    // Devices that close together mostly share their values: made once.
    std::shared_ptr<const EntryValues> values_of(const SharedText& mac, const SharedText& phy,
                                                 std::uint32_t exprom,
                                                 const SharedText& imageName) {
        const auto sources = std::make_tuple(mac, phy, exprom, imageName);
        if (lastValues_ == nullptr || lastValueSources_ != sources) {
            lastValueSources_ = sources;
            lastValues_ =
                std::make_shared<const EntryValues>(EntryValues{*mac, *phy, *imageName, exprom});
        }
        return lastValues_;
    }

    // Each value is checked once however many devices read it.
    std::optional<std::uint16_t> checked_blob(std::size_t blob, const BlobValue& value) {
        Verdict& last = lastVerdicts_[blob];
        if (last.text != *value.text) {
            const Result<> checked = check_hex_text(**value.text, kBlobCapacity);
            last = {*value.text, checked ? PROVKIT_OK : checked.error().status};
        }
        const std::string_view text = **value.text;
        const std::string name(kBlobNames[blob]);
        switch (last.status) {
        case PROVKIT_OK:
            return static_cast<std::uint16_t>(text.size() / 2);
        case PROVKIT_ERR_ODD_HEX:
            report(value.line, name + " text has an odd length (" + std::to_string(text.size()) +
                                   " characters)");
            break;
        case PROVKIT_ERR_BAD_HEX:
            report(value.line, name + " text holds a character that is not a hex digit");
            break;
        default:
            report(value.line, name + " text is longer than 1024 bytes (" +
                                   std::to_string(text.size() / 2) + " bytes)");
            break;
        }
        return std::nullopt;
    }

    std::string_view held_image_name(const SharedText& name) {
        if (lastHeldFor_ != name) {
            lastHeldFor_ = name;
            lastHeldImage_ = check_.hold(*name);
        }
        return lastHeldImage_;
    }

    // Each name is looked up once, however many devices name it.
    void check_image_name(std::string_view heldName, std::size_t imageLine) {
        const auto [known, isNew] = imageIsFile_.try_emplace(heldName.data(), false);
        if (isNew) {
            platform::FileInfo info;
            known->second = !platform::info_of_path(heldName, info).failed() &&
                            info.kind == platform::FileKind::regular;
        }
        if (!known->second) {
            report(imageLine, "image name names no file in the working directory");
        }
    }

    struct Verdict {
        SharedText text;
        Status status = PROVKIT_OK;
    };

    UpdateDataCheck& check_;
    const bool keepValues_;
    std::unordered_map<std::uint64_t, std::size_t> firstListed_; // device key -> line
    std::deque<OpenDevice> open_;   // grows without copying what it holds
    std::vector<SharedText> tails_; // the values the open devices read after their keys
    std::array<BlobWrites, 2> writes_;
    std::size_t expromLine_ = 0;
    std::uint32_t expromValue_ = kExpromUntilTagged;
    std::size_t valueTagLine_ = 0;
    std::unordered_map<const char*, bool> imageIsFile_; // by held name
    std::array<Verdict, 2> lastVerdicts_;
    std::shared_ptr<const EntryValues> lastValues_;
    std::tuple<SharedText, SharedText, std::uint32_t, SharedText> lastValueSources_;
    SharedText lastImage_;
    SharedText lastHeldFor_;
    std::string_view lastHeldImage_;
    bool sawNul_ = false;
    bool stoppedAtLongLine_ = false;
    // Per line, kept to reuse their storage.
    EntryTags lineTags_;
    bool opensSomething_ = false;       // a key, a tag or a mention of "<pciid" may begin on it
    std::vector<std::size_t> mentions_; // where "<pciid" begins, in any case
    std::vector<DeviceId> listedHere_;  // first listings on the line, in line order
    std::vector<std::size_t> starts_;   // where each of them starts reading
    bool splitAtKeys_ = false;
    struct LastTail {
        const char* at = nullptr;
        std::size_t size = 0;
        std::uint32_t index = kNoTail;
    };
    std::array<LastTail, 3> lastTails_; // mac, phy, image
};

} // namespace

std::string_view UpdateDataCheck::hold(std::string_view text) {
    return *texts_.emplace(text).first;
}

Result<> check_update_data(std::string_view path, UpdateDataCheck& check,
                           const CheckOptions& options) {
    platform::File file;
    if (const platform::Error error = platform::open_for_reading(path, file); error.failed()) {
        return failure_of(PROVKIT_ERR_FILE, Check::update_data_unreadable, path, error);
    }
    LineReader reader(file);
    HashStream hash;
    const bool hashed = options.digest && is_regular(file);
    if (hashed) {
        reader.hash_into(hash);
    }
    Scan scan(check, options.keepValues);
    std::size_t number = 0;
    for (std::string_view line; reader.next_view(line);) {
        scan.take(++number, line);
    }
    if (reader.failed()) {
        return failure_of(PROVKIT_ERR_FILE, Check::update_data_unreadable, path, reader.error());
    }
    if (reader.line_too_long()) {
        check.lineTooLong = true;
        scan.stop_at_long_line(number + 1);
    }
    scan.finish();
    if (hashed && reader.read_to_end()) {
        if (const Result<DigestValue> digest = hash.finish()) {
            check.fileDigest = *digest;
        }
    }
    return {};
}
