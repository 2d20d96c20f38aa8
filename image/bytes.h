#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// The one way the image's 32-bit fields are read and written.
inline std::uint32_t load_le32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return std::uint32_t{bytes[offset]} | std::uint32_t{bytes[offset + 1]} << 8 |
           std::uint32_t{bytes[offset + 2]} << 16 | std::uint32_t{bytes[offset + 3]} << 24;
}

inline void store_le32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// The length bytes at offset in container, or nothing when any of them lies
// outside it. Every variable range is taken through here before it is read.
inline std::optional<std::span<const std::uint8_t>>
checked_slice(std::span<const std::uint8_t> container, std::uint64_t offset, std::uint64_t length) {
    if (offset > container.size() || length > container.size() - offset) {
        return std::nullopt;
    }
    return container.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
}
