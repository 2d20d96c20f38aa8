#include "provisioning_data/update_data.h"

#include "common/report.h"
#include "provisioning_data/device_key.h"
#include "provisioning_data/line_reader.h"

namespace {

// A later value replaces an earlier one whole; an empty value closed by a
// less-than sign writes nothing, so the earlier value stays.
void store_tag_value(const std::optional<TagValue>& value, std::string& destination) {
    if (!value || (value->closed_by_less_than && value->text.empty())) {
        return;
    }
    destination.assign(value->text);
}

} // namespace

std::optional<TagValue> find_tag_value(std::string_view line, std::string_view tag) {
    const std::size_t tag_at = line.find(tag);
    if (tag_at == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view rest = line.substr(tag_at + tag.size());
    const std::size_t less_than = rest.find('<');
    if (less_than == std::string_view::npos) {
        return TagValue{rest, false};
    }
    return TagValue{rest.substr(0, less_than), true};
}

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

EntryTags find_entry_tags(std::string_view text) {
    return {find_tag_value(text, kMacTag), find_tag_value(text, kPhyTag),
            find_tag_value(text, kExpromTag), find_tag_value(text, kImageTag)};
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

Status get_xml_data(std::string_view key, std::string_view path, std::string& macText,
                    std::string& phyText, std::string& imageName, std::uint32_t& exprom) {
    platform::File file;
    if (platform::open_for_reading(path, file).failed()) {
        print_line("Unable to open file! ", path);
        return PROVKIT_ERR_FILE;
    }
    LineReader reader(file);
    EntryValues values{macText, phyText, imageName, exprom};
    bool in_entry = false;
    bool entry_ended = false;
    std::string line;
    while (!entry_ended && reader.next(line)) {
        if (in_entry) {
            entry_ended = take_entry_line(line, values);
        } else if (const std::optional<std::size_t> key_at = entry_key_at(line, key)) {
            // The tags before the key belong to whatever the line listed before this device.
            in_entry = true;
            entry_ended =
                take_entry_line(std::string_view(line).substr(*key_at + key.size()), values);
        }
    }
    // A file that fails to read is not a file without the entry.
    if (reader.failed()) {
        print_line("Unable to open file! ", path);
        return PROVKIT_ERR_FILE;
    }
    if (reader.line_too_long()) {
        print_line("Update data line too long ", path);
        return PROVKIT_ERR_DATA;
    }
    if (!in_entry) {
        return PROVKIT_ERR_DATA;
    }
    macText = values.macText;
    phyText = values.phyText;
    imageName = values.imageName;
    exprom = values.exprom;
    return PROVKIT_OK;
}
