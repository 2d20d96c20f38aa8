#include "provisioning_data/update_data_writer.h"

#include "common/board_data.h"
#include "common/hex.h"
#include "common/sha256_stream.h"
#include "provisioning_data/board_data_stage.h"
#include "provisioning_data/device_key.h"
#include "provisioning_data/update_data.h"
#include "provisioning_data/update_data_check.h"

#include <algorithm>
#include <cstring>
#include <tuple>

namespace {

constexpr std::string_view kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<updatedata>\n";
constexpr std::string_view kTail = "</updatedata>\n";
constexpr std::string_view kExpromOn = "True";
constexpr std::string_view kExpromOff = "False";
constexpr std::size_t kFlushAt = 64 * 1024;
constexpr std::size_t kReadBlock = 64 * 1024;

std::uint32_t exprom_meant(const std::optional<std::string>& exprom) {
    return exprom ? exprom_switch(*exprom) : kExpromUntilTagged;
}

void add_text(HashStream& hash, std::string_view text) {
    const std::uint64_t size = text.size();
    std::array<std::uint8_t, sizeof size> length{};
    std::memcpy(length.data(), &size, sizeof size);
    hash.add(length);
    hash.add({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

// What a device's values come to, as the scanner gives them back.
Result<std::array<std::uint8_t, 16>> digest_of(std::string_view mac, std::string_view phy,
                                               std::uint32_t exprom, std::string_view image) {
    HashStream hash;
    add_text(hash, mac);
    add_text(hash, phy);
    add_text(hash, exprom == 0 ? kExpromOff : kExpromOn);
    add_text(hash, image);
    const Result<DigestValue> full = hash.finish();
    if (!full) {
        return full.error();
    }
    std::array<std::uint8_t, 16> digest{};
    std::copy_n(full->begin(), digest.size(), digest.begin());
    return digest;
}

InputPlace place_of(const MeantDevice& device, std::size_t line) {
    return {line, 0, device.id, 0};
}

enum Field : std::size_t { mac, phy, exprom, image };

Failure value_failure(Check check, const MeantEntry& entry, Field field, std::string_view name) {
    return failure_at(PROVKIT_ERR_DATA, check, place_of(entry.devices.front(), entry.lines[field]),
                      name);
}

// Characters that would end the image name early or split its line.
Result<> check_image_name(const MeantEntry& entry) {
    const std::string_view name = entry.imageName;
    if (name.size() > kMaxImageName) {
        return value_failure(Check::value_too_long, entry, image, kImageField);
    }
    if (name.find('<') != std::string_view::npos) {
        return value_failure(Check::value_holds_less_than, entry, image, kImageField);
    }
    if (name.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
        return value_failure(Check::value_holds_line_feed, entry, image, kImageField);
    }
    return {};
}

} // namespace

void MeantEntry::clear() {
    devices.clear();
    macText.clear();
    phyText.clear();
    exprom.reset();
    imageName.clear();
    lines = {};
}

UpdateDataWriter::UpdateDataWriter(const platform::File& file, std::string_view path)
    : file_(file), path_(path) {
    buffer_.append(kHead);
}

Result<> UpdateDataWriter::check_values(const MeantEntry& entry) const {
    for (const auto& [text, field, name] :
         {std::tuple{std::string_view(entry.macText), mac, kMacField},
          std::tuple{std::string_view(entry.phyText), phy, kPhyField}}) {
        if (Result<> hex = check_hex_text(text, kBlobCapacity); !hex) {
            return value_failure(hex.error().check, entry, field, name);
        }
    }
    if (entry.exprom && *entry.exprom != kExpromOn && *entry.exprom != kExpromOff) {
        return value_failure(Check::exprom_unwritable, entry, exprom, kExpromField);
    }
    return check_image_name(entry);
}

Result<> UpdateDataWriter::write(const MeantEntry& entry) {
    if (entry.devices.empty()) {
        return {};
    }
    if (Result<> checked = check_values(entry); !checked) {
        return checked;
    }
    const Result<Digest> digest =
        digest_of(entry.macText, entry.phyText, exprom_meant(entry.exprom), entry.imageName);
    if (!digest) {
        return digest.error();
    }
    for (const MeantDevice& device : entry.devices) {
        const auto [listed, added] =
            meant_.try_emplace(device_key(device.id), Meant{*digest, device.line});
        if (!added) {
            if (listed->second.digest != *digest) {
                return failure_at(PROVKIT_ERR_DATA, Check::device_conflict,
                                  {device.line, 0, device.id, listed->second.line});
            }
            continue; // listed again as it was: the scanner reads the first listing
        }
        put_device(device.id, entry);
    }
    return buffer_.size() >= kFlushAt ? flush_buffer() : Result<>{};
}

void UpdateDataWriter::put_device(DeviceId id, const MeantEntry& entry) {
    buffer_.append("  <device>\n    ");
    buffer_.append(format_device_key(id));
    for (const auto& [tag, text] : {std::pair{kMacTag, std::string_view(entry.macText)},
                                    std::pair{kPhyTag, std::string_view(entry.phyText)}}) {
        buffer_.append("\n    ").append(tag).append(text).append("</").append(tag.substr(1));
    }
    if (entry.exprom) {
        buffer_.append("\n    ").append(kExpromTag).append(*entry.exprom).append("</exprom>");
    }
    buffer_.append("\n    ").append(kImageTag).append(entry.imageName);
    buffer_.append("</image>\n  </device>\n");
}

Result<> UpdateDataWriter::flush_buffer() {
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(buffer_.data()), buffer_.size());
    if (const platform::Error error = platform::write_all(file_, bytes); error.failed()) {
        return failure_of(PROVKIT_ERR_FILE, Check::output_unwritten, path_, error);
    }
    offset_ += buffer_.size();
    buffer_.clear();
    return {};
}

Result<> UpdateDataWriter::finish() {
    buffer_.append(kTail);
    if (Result<> flushed = flush_buffer(); !flushed) {
        return flushed;
    }
    return read_back();
}

Result<> UpdateDataWriter::compare(UpdateDataCheck& check, std::size_t& found) const {
    for (; !check.devices.empty(); check.devices.pop_front(), check.values.pop_front()) {
        const ListedDevice& device = check.devices.front();
        const EntryValues& values = *check.values.front();
        const auto meant = meant_.find(device_key(device.id));
        const Result<Digest> digest =
            digest_of(values.macText, values.phyText, values.exprom, values.imageName);
        if (meant == meant_.end() || !digest || meant->second.digest != *digest) {
            const std::size_t line = meant == meant_.end() ? 0 : meant->second.line;
            return failure_at(PROVKIT_ERR_DATA, Check::value_unread, {line, 0, device.id, 0});
        }
        ++found;
    }
    return {};
}

Result<> UpdateDataWriter::read_back() {
    UpdateDataCheck check;
    UpdateDataReading reading(check, {.keepValues = true});
    reading.open_written(file_, path_);
    std::size_t found = 0;
    for (bool more = true; more;) {
        more = reading.read_some();
        if (Result<> same = compare(check, found); !same) {
            return same;
        }
    }
    if (Result<> finished = reading.finish(); !finished) {
        return finished;
    }
    if (Result<> same = compare(check, found); !same) {
        return same;
    }
    if (found != meant_.size() || check.lineTooLong) {
        return failure_at(PROVKIT_ERR_DATA, Check::value_unread, {});
    }
    return {};
}

std::optional<std::uint16_t> written_identifier(std::string_view text) {
    if (text.empty() || text.size() > 4) {
        return std::nullopt;
    }
    std::uint16_t value = 0;
    for (const char c : text) {
        const std::optional<std::uint8_t> digit = hex_digit_value(c);
        if (!digit) {
            return std::nullopt;
        }
        value = static_cast<std::uint16_t>(value << 4 | *digit);
    }
    return value;
}

Result<> read_blocks(const platform::File& in, std::string_view path,
                     const std::function<Result<>(std::string_view bytes, bool last)>& take) {
    std::vector<char> block(kReadBlock);
    for (bool last = false; !last;) {
        std::size_t got = 0;
        if (const platform::Error error = platform::read_some(in, block, got); error.failed()) {
            return failure_of(PROVKIT_ERR_FILE, Check::update_data_unreadable, path, error);
        }
        last = got == 0;
        if (Result<> taken = take({block.data(), got}, last); !taken) {
            return taken;
        }
    }
    return {};
}
