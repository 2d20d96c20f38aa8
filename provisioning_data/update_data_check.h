#pragma once

#include "common/device_id.h"
#include "common/status.h"
#include "provisioning_data/update_data.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A device as fwbforge2 would find it: the values its entry gives it.
struct ListedDevice {
    DeviceId id;
    std::size_t keyLine = 0;
    std::size_t imageLine = 0; // 0 when no "<image>" follows before the end of the file
    EntryValues values;
    std::size_t macLine = 0; // where the value taken came from; 0 when none
    std::size_t phyLine = 0;
    std::optional<std::size_t> macBytes; // the decoded length; none when the text is invalid
    std::optional<std::size_t> phyBytes;
};

struct Finding {
    std::size_t line = 0;
    std::string message;
};

struct UpdateDataCheck {
    std::vector<ListedDevice> devices; // in file order; a device listed again is not repeated
    std::vector<Finding> findings;     // by line
    bool lineTooLong = false;          // the reading ended at a line past the cap
};

// Reads the update-data file as fwbforge2's scanner does, for every device at
// once, and reports what would surprise the person who wrote it. Image names are
// looked up relative to the working directory. 0, or 67 when it cannot be read.
Status check_update_data(std::string_view path, UpdateDataCheck& check);
