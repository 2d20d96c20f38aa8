#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kBlobCapacity = 1024;

// What the board-data stage hands the provisioning stage.
struct BoardData {
    std::uint32_t exprom = 0; // 0 switches the expansion ROM off
    std::array<std::uint8_t, kBlobCapacity> macBdp{};
    std::array<std::uint8_t, kBlobCapacity> phyBdp{};
    std::uint32_t macBdpLen = 0;
    std::uint32_t phyBdpLen = 0;
};
