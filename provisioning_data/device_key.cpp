#include "provisioning_data/device_key.h"

#include "common/hex.h"

#include <algorithm>
#include <array>
#include <cstdio>

std::string format_device_key(DeviceId id) {
    std::array<char, 64> key{};
    const int length = std::snprintf(
        key.data(), key.size(), "<pciid vid=\"%04x\" did=\"%04x\" sdid=\"%04x\" svid=\"%04x\" />",
        unsigned{id.vid}, unsigned{id.did}, unsigned{id.ssid}, unsigned{id.svid});
    return std::string(key.data(), static_cast<std::size_t>(length));
}

std::string lowercase_ascii(std::string_view text) {
    std::string lowered_text(text.size(), '\0');
    std::transform(text.begin(), text.end(), lowered_text.begin(), lowered_ascii);
    return lowered_text;
}

namespace {

// The key's shape: each 'h' stands for one lowercase hexadecimal digit.
constexpr std::string_view kKeyShape = R"(<pciid vid="hhhh" did="hhhh" sdid="hhhh" svid="hhhh" />)";
static_assert(kKeyShape.size() == kDeviceKeyLength);
constexpr std::array<std::size_t, 4> kVidDidSdidSvidAt = {12, 23, 35, 47};

constexpr bool digits_stand_where_the_shape_has_them() {
    std::size_t digits = 0;
    for (const char c : kKeyShape) {
        digits += c == 'h' ? 1 : 0;
    }
    for (const std::size_t at : kVidDidSdidSvidAt) {
        if (kKeyShape.substr(at, 4) != "hhhh") {
            return false;
        }
    }
    return digits == 4 * kVidDidSdidSvidAt.size();
}
static_assert(digits_stand_where_the_shape_has_them());

// The value of each lowercase hexadecimal digit, by character; kNotADigit for
// any other. A key's sixteen digits are read by looking up, not by branching.
constexpr std::uint8_t kNotADigit = 16;
constexpr std::array<std::uint8_t, 256> kLoweredDigitValues = [] {
    std::array<std::uint8_t, 256> values{};
    values.fill(kNotADigit);
    for (std::uint8_t digit = 0; digit < 10; ++digit) {
        values['0' + digit] = digit;
    }
    for (std::uint8_t digit = 10; digit < 16; ++digit) {
        values['a' + digit - 10] = digit;
    }
    return values;
}();

} // namespace

// Every key line is checked: the digits are read and replaced by the shape's
// 'h', and the whole then compared with the shape at once.
std::optional<DeviceId> device_key_at(std::string_view line, std::size_t at) {
    if (line.size() < at || line.size() - at < kDeviceKeyLength) {
        return std::nullopt;
    }
    std::array<char, kDeviceKeyLength> key{};
    std::transform(line.begin() + static_cast<std::ptrdiff_t>(at),
                   line.begin() + static_cast<std::ptrdiff_t>(at + kDeviceKeyLength), key.begin(),
                   lowered_ascii);
    std::array<std::uint16_t, kVidDidSdidSvidAt.size()> values{};
    bool allDigits = true;
    for (std::size_t field = 0; field < values.size(); ++field) {
        for (std::size_t i = kVidDidSdidSvidAt[field]; i < kVidDidSdidSvidAt[field] + 4; ++i) {
            const std::uint8_t digit = kLoweredDigitValues[static_cast<unsigned char>(key[i])];
            allDigits = allDigits && digit != kNotADigit;
            values[field] = static_cast<std::uint16_t>(values[field] << 4 | (digit & 0xf));
            key[i] = 'h';
        }
    }
    if (!allDigits || std::string_view(key.data(), key.size()) != kKeyShape) {
        return std::nullopt;
    }
    DeviceId id;
    id.vid = values[0];
    id.did = values[1];
    id.ssid = values[2];
    id.svid = values[3];
    return id;
}

namespace {

bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Past the blanks, the sign and a 0x prefix that a digit follows.
struct NumberStart {
    std::size_t digitsAt = 0;
    bool negative = false;
};

NumberStart number_start(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && is_space(text[at])) {
        ++at;
    }
    const bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        ++at;
    }
    const bool has_prefix = at + 2 < text.size() && text[at] == '0' &&
                            (text[at + 1] == 'x' || text[at + 1] == 'X') &&
                            hex_digit_value(text[at + 2]);
    return {has_prefix ? at + 2 : at, negative};
}

std::uint32_t strtoul32_base16(std::string_view text) {
    const NumberStart start = number_start(text);
    std::uint64_t value = 0;
    for (std::size_t at = start.digitsAt; at < text.size() && hex_digit_value(text[at]); ++at) {
        value = value << 4 | *hex_digit_value(text[at]);
        if (value > UINT32_MAX) {
            return UINT32_MAX; // saturates whatever the sign
        }
    }
    return static_cast<std::uint32_t>(start.negative ? 0 - value : value);
}

} // namespace

std::optional<std::uint16_t> parse_identifier(std::string_view text) {
    const std::uint32_t value = strtoul32_base16(text);
    if (value > UINT16_MAX) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

bool identifier_leaves_text(std::string_view text) {
    std::size_t at = number_start(text).digitsAt;
    const std::size_t digits = at;
    while (at < text.size() && hex_digit_value(text[at])) {
        ++at;
    }
    return at == digits || at < text.size();
}

Result<DeviceId> parse_device_id(std::span<const std::string> given) {
    static constexpr std::array<std::string_view, 4> kNames = {"VID", "DID", "SVID", "SSID"};
    DeviceId id;
    const std::array<std::uint16_t*, 4> fields = {&id.vid, &id.did, &id.svid, &id.ssid};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::optional<std::uint16_t> value = parse_identifier(given[i]);
        if (!value) {
            return failure_of(PROVKIT_ERR_USAGE, Check::bad_identifier, given[i], {}, kNames[i]);
        }
        *fields[i] = *value;
    }
    return id;
}
