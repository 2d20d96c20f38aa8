#include "provisioning_data/update_data.h"

#include "provisioning_data/device_key.h"
#include "provisioning_data/line_reader.h"

#include <algorithm>

namespace {

void store_tag_value(const std::optional<TagValue>& value, std::string& destination) {
    if (writes_value(value)) {
        destination.assign(value->text);
    }
}

} // namespace

bool is_key_line(std::string_view line) {
    return line.find(kKeyLineMarker) != std::string_view::npos;
}

std::optional<std::size_t> entry_key_at(std::string_view line, std::string_view key) {
    if (!is_key_line(line)) {
        return std::nullopt;
    }
    const std::size_t at = lowercase_ascii(line).find(key);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    return at;
}

std::uint32_t exprom_switch(std::string_view value) {
    return value == "True" ? 1 : 0;
}

namespace {

// Called for every less-than sign of the file: with the tag known, its few
// bytes are compared in place rather than by a call.
bool begins_with_tag(std::string_view rest, std::string_view tag) {
    return rest.size() >= tag.size() && std::equal(tag.begin(), tag.end(), rest.begin());
}

// Takes the value of tag if it begins at at, unless one of its kind came before.
// Inline, so that each tag is compared with its own constant length.
inline bool take_if_tag(std::string_view text, std::size_t at, std::size_t nextLessThan,
                        std::string_view tag, std::optional<TagValue>& value) {
    if (!begins_with_tag(text.substr(at), tag)) {
        return false;
    }
    if (!value) {
        const std::size_t valueAt = at + tag.size();
        value = nextLessThan == std::string_view::npos
                    ? TagValue{text.substr(valueAt), false}
                    : TagValue{text.substr(valueAt, nextLessThan - valueAt), true};
    }
    return true;
}

} // namespace

// Every tag begins with the only less-than sign it holds, and no two share
// their second letter.
bool take_tag_at(std::string_view text, std::size_t at, std::size_t nextLessThan, EntryTags& tags) {
    switch (at + 1 < text.size() ? text[at + 1] : '\0') {
    case kMacTag[1]:
        return take_if_tag(text, at, nextLessThan, kMacTag, tags.mac);
    case kPhyTag[1]:
        return take_if_tag(text, at, nextLessThan, kPhyTag, tags.phy);
    case kExpromTag[1]:
        return take_if_tag(text, at, nextLessThan, kExpromTag, tags.exprom);
    case kImageTag[1]:
        return take_if_tag(text, at, nextLessThan, kImageTag, tags.image);
    default:
        return false;
    }
}

EntryTags find_entry_tags(std::string_view text) {
    EntryTags tags;
    for (std::size_t at = text.find('<'); at != std::string_view::npos;) {
        const std::size_t next = text.find('<', at + 1);
        take_tag_at(text, at, next, tags);
        at = next;
    }
    return tags;
}

EntryTags followed_by(EntryTags text, const EntryTags& rest) {
    text.mac = text.mac ? text.mac : rest.mac;
    text.phy = text.phy ? text.phy : rest.phy;
    text.exprom = text.exprom ? text.exprom : rest.exprom;
    text.image = text.image ? text.image : rest.image;
    return text;
}

bool take_entry_tags(const EntryTags& tags, EntryValues& values) {
    store_tag_value(tags.mac, values.macText);
    store_tag_value(tags.phy, values.phyText);
    if (tags.exprom) {
        values.exprom = exprom_switch(tags.exprom->text);
    }
    store_tag_value(tags.image, values.imageName);
    return tags.image.has_value();
}

bool take_entry_line(std::string_view line, EntryValues& values) {
    return take_entry_tags(find_entry_tags(line), values);
}

bool is_regular(const platform::File& file) {
    platform::FileInfo info;
    return !platform::info_of(file, info).failed() && info.kind == platform::FileKind::regular;
}

Result<EntryValues> get_xml_data(std::string_view key, std::string_view path,
                                 std::optional<DigestValue>* fileDigest) {
    platform::File file;
    if (const platform::Error error = platform::open_for_reading(path, file); error.failed()) {
        return failure_of(PROVKIT_ERR_FILE, Check::update_data_unreadable, path, error);
    }
    LineReader reader(file);
    HashStream hash;
    const bool hashed = fileDigest != nullptr && is_regular(file);
    if (hashed) {
        reader.hash_into(hash);
    }
    EntryValues values;
    bool inEntry = false;
    bool entryEnded = false;
    std::string line;
    std::size_t number = 0;
    const auto take = [&values, &number](std::string_view text) {
        const EntryTags tags = find_entry_tags(text);
        if (tags.exprom) {
            values.expromText = tags.exprom->text;
            values.expromLine = number;
        }
        return take_entry_tags(tags, values);
    };
    while (!entryEnded && reader.next(line)) {
        ++number;
        if (inEntry) {
            entryEnded = take(line);
        } else if (const std::optional<std::size_t> keyAt = entry_key_at(line, key)) {
            // The tags before the key belong to whatever the line listed before this device.
            inEntry = true;
            values.keyLine = number;
            entryEnded = take(std::string_view(line).substr(*keyAt + key.size()));
        }
    }
    if (hashed && reader.read_to_end()) {
        if (const Result<DigestValue> digest = hash.finish()) {
            *fileDigest = *digest;
        }
    }
    // A file that fails to read is not a file without the entry.
    if (reader.failed()) {
        return failure_of(PROVKIT_ERR_FILE, Check::update_data_unreadable, path, reader.error());
    }
    if (reader.line_too_long()) {
        return failure_of(PROVKIT_ERR_DATA, Check::line_too_long, path);
    }
    if (!inEntry) {
        return failure_of(PROVKIT_ERR_DATA, Check::no_entry, path);
    }
    return values;
}
