#include "provisioning_data/open_entries.h"

#include "provisioning_data/board_data_stage.h"

#include <algorithm>
#include <array>
#include <deque>
#include <unordered_map>

namespace {

using SharedText = std::shared_ptr<const std::string>;

const SharedText& empty_text() {
    static const SharedText empty = std::make_shared<const std::string>();
    return empty;
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
    bool written = false;
    std::string value;           // the last value written, its storage reused
    std::size_t lastSeen = 0;    // the last line with the tag, writing or not
    std::uint32_t epoch = 0;     // grows with every write that changes the value
    std::size_t epochLine = 0;   // the line of that write
    std::size_t reachedUpTo = 0; // the open devices before this one have met a write
};

// A blob's value for a device and the line it came from: the first line of the
// last run of writes that left it so.
struct BlobValue {
    const std::string* text = nullptr;
    std::size_t line = 0;
};

} // namespace

class OpenEntries::State {
  public:
    State(UpdateDataCheck& check, bool keepValues) : check_(check), keepValues_(keepValues) {}

    bool empty() const { return open_.empty(); }
    std::size_t oldest_key_line() const { return open_.front().keyLine; }
    bool oldest_has_value_tags() const {
        const OpenDevice& oldest = open_.front();
        return (oldest.tailTags & kSawValueTag) != 0 || valueTagLine_ > oldest.keyLine;
    }

    // Every open entry takes the line's tags; an "<image>" among them closes them all.
    void take_whole_line(std::size_t number, const EntryTags& tags) {
        if (open_.empty()) {
            return;
        }
        take_blob_tag(kMac, number, tags.mac);
        take_blob_tag(kPhy, number, tags.phy);
        if (tags.exprom) {
            expromLine_ = number;
            expromValue_ = exprom_switch(tags.exprom->text);
        }
        if (tags.mac || tags.phy || tags.exprom) {
            valueTagLine_ = number;
        }
        if (tags.image) {
            close_open(number, image_name(*tags.image));
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
        const bool changes = !writes.written || writes.value != text;
        if (changes) {
            writes.written = true;
            writes.value = text;
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
            return {tail_text(tail).get(), tail_line(tail, device.keyLine)};
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

    void list(std::size_t number, std::span<const DeviceId> ids) {
        listedFrom_ = open_.size();
        open_.resize(listedFrom_ + ids.size());
        for (std::size_t k = 0; k < ids.size(); ++k) {
            open_[listedFrom_ + k].id = ids[k];
            open_[listedFrom_ + k].keyLine = number;
        }
        lastTails_ = {};
    }

    void read_after_key(std::size_t k, const EntryTags& tail) {
        OpenDevice& device = open_[listedFrom_ + k];
        device.blobTail = {tail_of(kMac, tail.mac), tail_of(kPhy, tail.phy)};
        device.imageTail = tail_of(kImage, tail.image);
        device.tailExprom =
            tail.exprom ? static_cast<std::uint8_t>(exprom_switch(tail.exprom->text)) : kNoExprom;
        const bool valueTags = tail.mac || tail.phy || tail.exprom;
        device.tailTags = static_cast<std::uint8_t>(
            (tail.mac ? kSawBlob[kMac] : 0) | (tail.phy ? kSawBlob[kPhy] : 0) |
            (valueTags ? kSawValueTag : 0) | (tail.image ? kSawImage : 0));
    }

    // Those whose text after the key holds an "<image>" close at once, and come first.
    void open_listed(std::size_t number) {
        std::size_t closed = listedFrom_;
        while (closed < open_.size() && (open_[closed].tailTags & kSawImage) != 0) {
            close_device(open_[closed], SIZE_MAX, number, tail_text(open_[closed].imageTail));
            ++closed;
        }
        // Only a line with an "<image>" closes any, and it closed the older ones before.
        open_.erase(open_.begin() + static_cast<std::ptrdiff_t>(listedFrom_),
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

    void close_all_at_end() { close_open(0, empty_text()); }

    void close_open(std::size_t imageLine, const SharedText& imageName) {
        for (std::size_t i = 0; i < open_.size(); ++i) {
            close_device(open_[i], i, imageLine, imageName);
        }
        forget();
    }

    void forget() {
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
                check_.report(device.keyLine, blob == kMac
                                                  ? "entry has no <mac> tag: fwbforge2 gives "
                                                    "the device an empty MAC blob"
                                                  : "entry has no <phy> tag: fwbforge2 gives "
                                                    "the device an empty PHY blob");
            }
        }
        if (keepValues_) {
            check_.values.push_back(values_of(*mac.text, *phy.text, listed.exprom, *imageName));
        }
    }

    // Devices that close together mostly share their values: made once.
    std::shared_ptr<const EntryValues> values_of(const std::string& mac, const std::string& phy,
                                                 std::uint32_t exprom,
                                                 const std::string& imageName) {
        if (lastValues_ == nullptr || lastValues_->macText != mac || lastValues_->phyText != phy ||
            lastValues_->exprom != exprom || lastValues_->imageName != imageName) {
            lastValues_ = std::make_shared<const EntryValues>(
                EntryValues{mac, phy, imageName, exprom, {}, 0});
        }
        return lastValues_;
    }

    // A value is checked once however many devices read it in a row.
    std::optional<std::uint16_t> checked_blob(std::size_t blob, const BlobValue& value) {
        const std::string& text = *value.text;
        Verdict& last = lastVerdicts_[blob];
        if (!last.made || last.text != text) {
            const Result<> checked = check_hex_text(text, kBlobCapacity);
            last.made = true;
            last.text = text;
            last.status = checked ? PROVKIT_OK : checked.error().status;
        }
        const std::string name(kBlobNames[blob]);
        switch (last.status) {
        case PROVKIT_OK:
            return static_cast<std::uint16_t>(text.size() / 2);
        case PROVKIT_ERR_ODD_HEX:
            check_.report(value.line, name + " text has an odd length (" +
                                          std::to_string(text.size()) + " characters)");
            break;
        case PROVKIT_ERR_BAD_HEX:
            check_.report(value.line, name + " text holds a character that is not a hex digit");
            break;
        default:
            check_.report(value.line, name + " text is longer than 1024 bytes (" +
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
            check_.report(imageLine, "image name names no file in the working directory");
        }
    }

    struct Verdict {
        bool made = false;
        std::string text; // its storage reused
        Status status = PROVKIT_OK;
    };

    UpdateDataCheck& check_;
    const bool keepValues_;
    std::deque<OpenDevice> open_;   // grows without copying what it holds
    std::size_t listedFrom_ = 0;    // the devices listed on the line being read
    std::vector<SharedText> tails_; // the values the open devices read after their keys
    std::array<BlobWrites, 2> writes_;
    std::size_t expromLine_ = 0;
    std::uint32_t expromValue_ = kExpromUntilTagged;
    std::size_t valueTagLine_ = 0;
    std::unordered_map<const char*, bool> imageIsFile_; // by held name
    std::array<Verdict, 2> lastVerdicts_;
    std::shared_ptr<const EntryValues> lastValues_;
    SharedText lastImage_;
    SharedText lastHeldFor_;
    std::string_view lastHeldImage_;
    struct LastTail {
        const char* at = nullptr;
        std::size_t size = 0;
        std::uint32_t index = kNoTail;
    };
    std::array<LastTail, 3> lastTails_; // mac, phy, image
};

OpenEntries::OpenEntries(UpdateDataCheck& check, bool keepValues)
    : state_(std::make_unique<State>(check, keepValues)) {}

OpenEntries::~OpenEntries() = default;

bool OpenEntries::empty() const {
    return state_->empty();
}

std::size_t OpenEntries::oldest_key_line() const {
    return state_->oldest_key_line();
}

bool OpenEntries::oldest_has_value_tags() const {
    return state_->oldest_has_value_tags();
}

void OpenEntries::take_whole_line(std::size_t number, const EntryTags& tags) {
    state_->take_whole_line(number, tags);
}

void OpenEntries::list(std::size_t number, std::span<const DeviceId> ids) {
    state_->list(number, ids);
}

void OpenEntries::read_after_key(std::size_t k, const EntryTags& tail) {
    state_->read_after_key(k, tail);
}

void OpenEntries::open_listed(std::size_t number) {
    state_->open_listed(number);
}

void OpenEntries::close_all_at_end() {
    state_->close_all_at_end();
}

void OpenEntries::forget() {
    state_->forget();
}
