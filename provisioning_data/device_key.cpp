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

void lowercase_ascii_into(std::string_view text, std::string& lowered) {
    lowered.resize(text.size());
    std::transform(text.begin(), text.end(), lowered.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
}

std::string lowercase_ascii(std::string_view text) {
    std::string lowered;
    lowercase_ascii_into(text, lowered);
    return lowered;
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

// The text is lowercased, so a digit is 0-9 or a-f.
bool is_lowered_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// Every key line is checked, so the fixed text is compared a stretch at a time.
bool has_key_shape(std::string_view text) {
    if (text.size() < kKeyShape.size()) {
        return false;
    }
    std::size_t fixedFrom = 0;
    for (const std::size_t digitsAt : kVidDidSdidSvidAt) {
        const std::size_t fixedLength = digitsAt - fixedFrom;
        if (text.substr(fixedFrom, fixedLength) != kKeyShape.substr(fixedFrom, fixedLength) ||
            !std::all_of(text.begin() + static_cast<std::ptrdiff_t>(digitsAt),
                         text.begin() + static_cast<std::ptrdiff_t>(digitsAt + 4),
                         is_lowered_hex_digit)) {
            return false;
        }
        fixedFrom = digitsAt + 4;
    }
    return text.substr(fixedFrom, kKeyShape.size() - fixedFrom) == kKeyShape.substr(fixedFrom);
}

std::uint16_t four_digits_at(std::string_view text, std::size_t at) {
    std::uint16_t value = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
        value = static_cast<std::uint16_t>(value << 4 | *hex_digit_value(text[i]));
    }
    return value;
}

} // namespace

void device_keys_in(std::string_view lowered, std::vector<DeviceKeyAt>& keys) {
    keys.clear();
    for (std::size_t at = lowered.find(kKeyLineMarker); at != std::string_view::npos;
         at = lowered.find(kKeyLineMarker, at + 1)) {
        const std::string_view candidate = lowered.substr(at);
        if (has_key_shape(candidate)) {
            DeviceId id;
            id.vid = four_digits_at(candidate, kVidDidSdidSvidAt[0]);
            id.did = four_digits_at(candidate, kVidDidSdidSvidAt[1]);
            id.ssid = four_digits_at(candidate, kVidDidSdidSvidAt[2]);
            id.svid = four_digits_at(candidate, kVidDidSdidSvidAt[3]);
            keys.push_back({id, at});
        }
    }
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
