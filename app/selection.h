#pragma once

#include "common/device_id.h"
#include "common/status.h"
#include "provisioning_data/update_data_check.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A device as a batch names it: "vvvv-dddd-ssss-iiii", four hex digits each.
std::string device_name(DeviceId id);
std::optional<DeviceId> parse_device_name(std::string_view name);

// The devices --only names: a comma-separated list, or @FILE with one name a
// line. On failure, status and the line that says why (the file's reason, when
// it could not be read, in reason).
struct Selection {
    std::vector<DeviceId> devices; // as given, each once
    Status status = PROVKIT_OK;
    std::string line;
    std::string reason;
};
Selection read_selection(std::string_view given);

// Keeps in check only the selected devices and their values, in file order.
// Gives the selected devices that check does not list.
std::vector<DeviceId> keep_selected(UpdateDataCheck& check, std::span<const DeviceId> selected);
