#pragma once

#include "common/device_id.h"
#include "common/failure.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

inline constexpr std::string_view kKeyLineMarker = "<pciid vid=";

// c, lowered when it is one of the letters A to Z.
inline char lowered_ascii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The copy in which only the letters A to Z are lowered.
std::string lowercase_ascii(std::string_view text);

// The kDeviceKeyLength-character, all-lowercase key line that opens the device's entry.
std::string format_device_key(DeviceId id);

inline constexpr std::size_t kDeviceKeyLength = 55;

// The device key written in the canonical form that the line's lowercase
// form holds at at, if it holds one there.
std::optional<DeviceId> device_key_at(std::string_view line, std::size_t at);

// A PCI identifier written as base-16 text, read as a 32-bit strtoul reads it
// (blanks, sign, 0x prefix, stop at the first non-digit, saturate past 32 bits);
// nothing when that value does not fit 16 bits.
std::optional<std::uint16_t> parse_identifier(std::string_view text);

// True when that reading leaves characters after the digits ("fb2g"), or finds none.
bool identifier_leaves_text(std::string_view text);

// The four identifiers as given, VID DID SVID SSID, read in that order: the first
// that does not fit 16 bits fails with 1 (bad_identifier), its name in subject
// and the text as given in path.
Result<DeviceId> parse_device_id(std::span<const std::string> given);
