#pragma once

#include "common/failure.h"
#include "common/sha256_stream.h"

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

// A later value replaces an earlier one whole; an empty value closed by a
// less-than sign writes nothing, so the earlier value stays. (Inline: the
// update-data check asks it for every value of the file.)
inline bool writes_value(const std::optional<TagValue>& value) {
    return value && !(value->closed_by_less_than && value->text.empty());
}

// A line holding the key-line marker exactly as written.
bool is_key_line(std::string_view line);

// Where the device key stands on a key line that opens its entry: its first
// occurrence in the line's lowercase form (A to Z only); nothing elsewhere.
std::optional<std::size_t> entry_key_at(std::string_view line, std::string_view key);

// The expansion-ROM switch a "<exprom>" value gives.
std::uint32_t exprom_switch(std::string_view value);

// An entry without an "<exprom>" tag keeps the expansion ROM.
inline constexpr std::uint32_t kExpromUntilTagged = 1;

// The values an entry gives, as the lines of the entry set them.
struct EntryValues {
    std::string macText;
    std::string phyText;
    std::string imageName;
    std::uint32_t exprom = kExpromUntilTagged;
    // The "<exprom>" value that decided exprom, and its line; filled by get_xml_data only.
    std::string expromText;
    std::size_t expromLine = 0;
    std::size_t keyLine = 0; // the line that opens the entry, from 1, when the lookup found it
};

// The first occurrence of each tag in a text, and its value.
struct EntryTags {
    std::optional<TagValue> mac;
    std::optional<TagValue> phy;
    std::optional<TagValue> exprom;
    std::optional<TagValue> image;

    // Tag by tag: cheaper than assigning a cleared struct, which a scan does every line.
    void clear() {
        mac.reset();
        phy.reset();
        exprom.reset();
        image.reset();
    }
};

EntryTags find_entry_tags(std::string_view text);

// Takes the tag that begins at offset at of text, if one does, into tags unless
// one of its kind came before; nextLessThan is where the next less-than sign
// is (npos for none), which ends the value. True when a tag begins at at.
bool take_tag_at(std::string_view text, std::size_t at, std::size_t nextLessThan, EntryTags& tags);

// The tags of a text that rest follows: each the text's own, else rest's.
EntryTags followed_by(EntryTags text, const EntryTags& rest);

// Takes a line's tags into values; true when "<image>" ends the entry.
bool take_entry_tags(const EntryTags& tags, EntryValues& values);

// Takes one line of an entry (on the key line, the text after the key) into
// values; true when the line ends the entry.
bool take_entry_line(std::string_view line, EntryValues& values);

// Finds the entry that key opens in the update-data file and the values its tags
// give (a value stays as EntryValues starts it unless a tag of the entry writes
// it). Fails with 67 when the file cannot be opened or read (update_data_unreadable,
// with the system's reason), 69 when a line it reads is too long (line_too_long)
// or no line opens the entry (no_entry). With fileDigest, a regular file is read
// to its end, found or not, and fileDigest takes the SHA-256 of the bytes read (a
// pipe's is not taken, as it always was).
Result<EntryValues> get_xml_data(std::string_view key, std::string_view path,
                                 std::optional<DigestValue>* fileDigest = nullptr);

// The file open for reading, and whether it is a regular file, whose bytes can be
// hashed as they are read.
bool is_regular(const platform::File& file);
