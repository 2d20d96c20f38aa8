#pragma once

#include "common/device_id.h"

#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kKeyLineMarker = "<pciid vid=";

// The copy in which only the letters A to Z are lowered.
std::string lowercase_ascii(std::string_view text);

// The 55-character, all-lowercase key line that opens the device's entry.
std::string format_device_key(DeviceId id);

// Every device key written in the canonical form in an already lowercased line.
std::vector<DeviceId> device_keys_in(std::string_view lowered);
