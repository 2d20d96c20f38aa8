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

// The four identifiers as one number, for sets of devices.
inline std::uint64_t device_key(DeviceId id) {
    return std::uint64_t{id.vid} << 48 | std::uint64_t{id.did} << 32 |
           std::uint64_t{id.svid} << 16 | id.ssid;
}
