#include "provisioning_data/device_key.h"

#include <array>
#include <cstdio>

std::string format_device_key(DeviceId id) {
    std::array<char, 64> key{};
    const int length = std::snprintf(
        key.data(), key.size(), "<pciid vid=\"%04x\" did=\"%04x\" sdid=\"%04x\" svid=\"%04x\" />",
        unsigned{id.vid}, unsigned{id.did}, unsigned{id.ssid}, unsigned{id.svid});
    return std::string(key.data(), static_cast<std::size_t>(length));
}
