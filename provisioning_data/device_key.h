#pragma once

#include "common/device_id.h"

#include <string>
#include <string_view>

inline constexpr std::string_view kKeyLineMarker = "<pciid vid=";

// The 55-character, all-lowercase key line that opens the device's entry.
std::string format_device_key(DeviceId id);
