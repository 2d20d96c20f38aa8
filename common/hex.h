#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The value of one hexadecimal digit (0-9, a-f, A-F), or nothing.
constexpr std::optional<std::uint8_t> hex_digit_value(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<std::uint8_t>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<std::uint8_t>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<std::uint8_t>(c - 'A' + 10);
    }
    return std::nullopt;
}

// Lowercase hexadecimal text of bytes, two digits a byte.
std::string to_hex(std::span<const std::uint8_t> bytes);

// Four lowercase hexadecimal digits, as a PCI identifier is written.
std::string hex16(std::uint16_t value);
// The same four digits, written in place.
void write_hex16(std::span<char, 4> digits, std::uint16_t value);
