#pragma once

#include <cstdint>

// The target device's PCI identifiers.
struct DeviceId {
    std::uint16_t did = 0;
    std::uint16_t vid = 0;
    std::uint16_t svid = 0;
    std::uint16_t ssid = 0;

    friend bool operator==(const DeviceId&, const DeviceId&) = default;
};
