#pragma once

#include "common/status.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

inline constexpr std::string_view kMacTag = "<mac>";
inline constexpr std::string_view kPhyTag = "<phy>";
inline constexpr std::string_view kExpromTag = "<exprom>";
inline constexpr std::string_view kImageTag = "<image>";

// A tag's value: the text after the tag's first occurrence up to the next
// less-than sign, or to the end of the line (its line feed included).
struct TagValue {
    std::string_view text;
    bool closed_by_less_than = false;
};

std::optional<TagValue> find_tag_value(std::string_view line, std::string_view tag);

// A line holding the key-line marker exactly as written.
bool is_key_line(std::string_view line);

// Where the device key stands on a key line that opens its entry: its first
// occurrence in the line's lowercase form (A to Z only); nothing elsewhere.
std::optional<std::size_t> entry_key_at(std::string_view line, std::string_view key);

// The expansion-ROM switch a "<exprom>" value gives.
std::uint32_t exprom_switch(std::string_view value);

// The values an entry gives, as the lines of the entry set them.
struct EntryValues {
    std::string macText;
    std::string phyText;
    std::string imageName;
    std::uint32_t exprom = 1;
};

// The first occurrence of each tag in a text.
struct EntryTags {
    std::optional<TagValue> mac;
    std::optional<TagValue> phy;
    std::optional<TagValue> exprom;
    std::optional<TagValue> image;
};

EntryTags find_entry_tags(std::string_view text);

// The tags of a text that rest follows: each the text's own, else rest's.
EntryTags followed_by(EntryTags text, const EntryTags& rest);

// Takes a line's tags into values; true when "<image>" ends the entry.
bool take_entry_tags(const EntryTags& tags, EntryValues& values);

// Takes one line of an entry (on the key line, the text after the key) into
// values; true when the line ends the entry.
bool take_entry_line(std::string_view line, EntryValues& values);

// Finds the device's entry in the update-data file and takes its values.
// A destination is changed only by a tag of the entry. 0, 67 (the file cannot be
// opened or read) or 69 (no entry, or a line it reads is too long).
Status get_xml_data(std::string_view key, std::string_view path, std::string& macText,
                    std::string& phyText, std::string& imageName, std::uint32_t& exprom);
