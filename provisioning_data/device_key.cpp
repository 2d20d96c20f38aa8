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
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return lowered;
}

namespace {

// The key's shape: each 'h' stands for one lowercase hexadecimal digit.
constexpr std::string_view kKeyShape = R"(<pciid vid="hhhh" did="hhhh" sdid="hhhh" svid="hhhh" />)";
constexpr std::array<std::size_t, 4> kVidDidSdidSvidAt = {12, 23, 35, 47};

bool has_key_shape(std::string_view text) {
    return text.size() >= kKeyShape.size() &&
           std::equal(kKeyShape.begin(), kKeyShape.end(), text.begin(), [](char shape, char c) {
               return shape == 'h' ? hex_digit_value(c).has_value() : shape == c;
           });
}

std::uint16_t four_digits_at(std::string_view text, std::size_t at) {
    std::uint16_t value = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
        value = static_cast<std::uint16_t>(value << 4 | *hex_digit_value(text[i]));
    }
    return value;
}

} // namespace

std::vector<DeviceId> device_keys_in(std::string_view lowered) {
    std::vector<DeviceId> keys;
    for (std::size_t at = lowered.find(kKeyLineMarker); at != std::string_view::npos;
         at = lowered.find(kKeyLineMarker, at + 1)) {
        const std::string_view candidate = lowered.substr(at);
        if (has_key_shape(candidate)) {
            DeviceId id;
            id.vid = four_digits_at(candidate, kVidDidSdidSvidAt[0]);
            id.did = four_digits_at(candidate, kVidDidSdidSvidAt[1]);
            id.ssid = four_digits_at(candidate, kVidDidSdidSvidAt[2]);
            id.svid = four_digits_at(candidate, kVidDidSdidSvidAt[3]);
            keys.push_back(id);
        }
    }
    return keys;
}
