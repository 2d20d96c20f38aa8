#pragma once

#include "common/device_id.h"

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

// A line that names a device's four identifiers in a form the lookup does not
// read, and how that form differs from the key line's.
struct NearMiss {
    std::size_t line = 0;
    std::vector<std::string_view> differences; // "attribute order", "quotes", ...
};

// The first such line of the update data: a pciid element on one line, in any
// case, spacing, quoting and attribute order, whose vid, did, sdid and svid are
// the device's. Nothing when no line is, or the file cannot be read.
std::optional<NearMiss> find_near_miss(std::string_view path, DeviceId id);

// How a pciid element that begins at the start of element differs from the key
// line's form; nothing when it is no complete element or names another device.
std::optional<std::vector<std::string_view>> near_miss_differences(std::string_view element,
                                                                   DeviceId id);
