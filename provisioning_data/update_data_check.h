#pragma once

#include "common/device_id.h"
#include "common/status.h"
#include "provisioning_data/update_data.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// A device as fwbforge2 would find it: what its entry gives it.
struct ListedDevice {
    DeviceId id;
    std::size_t keyLine = 0;
    std::size_t imageLine = 0;             // 0 when no "<image>" follows before the end of the file
    std::optional<std::uint16_t> macBytes; // the decoded length; none when the text is invalid
    std::optional<std::uint16_t> phyBytes;
    std::uint32_t exprom = kExpromUntilTagged;
    std::string_view imageName; // held by the check
};

struct Finding {
    std::size_t line = 0;
    std::string_view message; // held by the check
};

// Where the check hands each device it lists, in file order, once its entry is
// read to its end, so that nothing need hold the whole list.
class DeviceListing {
  public:
    // values holds what the entry gives only when wants_values() says so.
    virtual void list(const ListedDevice& device, const EntryValues& values) = 0;
    // Keeping every entry's texts costs the check time, so only a listing that uses them asks.
    virtual bool wants_values() const { return false; }

  protected:
    ~DeviceListing() = default;
};

// What the check reports besides the devices: a text that many findings or
// devices share is held once, so memory follows the report rather than the file.
struct UpdateDataCheck {
    UpdateDataCheck() = default;
    UpdateDataCheck(const UpdateDataCheck&) = delete;
    UpdateDataCheck& operator=(const UpdateDataCheck&) = delete;

    std::size_t devices = 0;       // how many were listed
    std::vector<Finding> findings; // by line
    bool lineTooLong = false;      // the reading ended at a line past the cap

    // The check's own copy of text, alive as long as the check.
    std::string_view hold(std::string_view text);

  private:
    std::set<std::string, std::less<>> texts_;
};

// Reads the update-data file as fwbforge2's scanner does, for every device at
// once, lists the devices it would find and reports what would surprise the
// person who wrote the file. Image names are looked up relative to the working
// directory. 0, or 67 when it cannot be read, with the system's reason in error.
Status check_update_data(std::string_view path, DeviceListing& listing, UpdateDataCheck& check,
                         platform::Error& error);
