#include "provisioning_data/update_data.h"

#include "common/report.h"
#include "provisioning_data/device_key.h"
#include "provisioning_data/line_reader.h"

namespace {

// A later value replaces an earlier one whole; an empty value closed by a
// less-than sign writes nothing, so the earlier value stays.
void store_tag_value(std::string_view line, std::string_view tag, std::string& destination) {
    const std::optional<TagValue> value = find_tag_value(line, tag);
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

bool opens_entry(std::string_view line, std::string_view key) {
    return is_key_line(line) && lowercase_ascii(line).find(key) != std::string::npos;
}

std::uint32_t exprom_switch(std::string_view value) {
    return value == "True" ? 1 : 0;
}

bool take_entry_line(std::string_view line, EntryValues& values) {
    store_tag_value(line, kMacTag, values.macText);
    store_tag_value(line, kPhyTag, values.phyText);
    if (const std::optional<TagValue> value = find_tag_value(line, kExpromTag)) {
        values.exprom = exprom_switch(value->text);
    }
    if (find_tag_value(line, kImageTag)) {
        store_tag_value(line, kImageTag, values.imageName);
        return true;
    }
    return false;
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
        if (!in_entry && !opens_entry(line, key)) {
            continue;
        }
        in_entry = true;
        entry_ended = take_entry_line(line, values);
    }
    // A file that fails to read is not a file without the entry.
    if (reader.failed()) {
        print_line("Unable to open file! ", path);
        return PROVKIT_ERR_FILE;
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
