#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

inline constexpr std::size_t kBlobCapacity = 1024;

// The two blobs as every report names them.
inline constexpr std::string_view kMacName = "MAC";
inline constexpr std::string_view kPhyName = "PHY";

// What the board-data stage hands the provisioning stage.
struct BoardData {
    std::uint32_t exprom = 0; // 0 switches the expansion ROM off
    std::array<std::uint8_t, kBlobCapacity> macBdp{};
    std::array<std::uint8_t, kBlobCapacity> phyBdp{};
    std::uint32_t macBdpLen = 0;
    std::uint32_t phyBdpLen = 0;
};
