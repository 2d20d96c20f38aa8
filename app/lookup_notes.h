#pragma once

#include "common/device_id.h"
#include "lib/image_checks.h" // base_image_path, which --expect takes there too
#include "provisioning_data/update_data.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

// What a lookup of the update data tells the person on standard error, beside
// the lines on standard output that scripts read (and which these leave alone).

// For each identifier that holds characters after its digits, the value it was read as.
void note_identifiers_read_as(std::span<const std::string> given, DeviceId id);

// That the update data has no entry for the device, and the first line that
// names it in a form the lookup does not read, with what differs.
void explain_missing_entry(std::string_view updateData, DeviceId id);

// When the entry's exprom value is neither "True" nor "False": it reads as 0.
void warn_if_exprom_unclear(const EntryValues& values, std::string_view updateData);
