#include "common/hex.h"

namespace {

constexpr char kDigits[] = "0123456789abcdef";

} // namespace

std::string to_hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0f]);
    }
    return text;
}

std::string hex16(std::uint16_t value) {
    std::string text(4, '0');
    write_hex16(std::span<char, 4>(text.data(), 4), value);
    return text;
}

void write_hex16(std::span<char, 4> digits, std::uint16_t value) {
    for (std::size_t i = 0; i < digits.size(); ++i) {
        digits[i] = kDigits[(value >> (12 - 4 * i)) & 0xf];
    }
}
