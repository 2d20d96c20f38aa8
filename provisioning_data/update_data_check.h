#pragma once

#include "common/device_id.h"
#include "common/failure.h"
#include "common/sha256_stream.h"
#include "platform/platform.h"
#include "provisioning_data/update_data.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
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

// What reading the update data as fwbforge2's scanner does, for every device at
// once, found: the devices it would find and what would surprise the person who
// wrote the file. A text that many findings or devices share is held once.
struct UpdateDataCheck {
    UpdateDataCheck() = default;
    UpdateDataCheck(const UpdateDataCheck&) = delete;
    UpdateDataCheck& operator=(const UpdateDataCheck&) = delete;

    // Deques: they grow without a second copy of what they hold.
    std::deque<ListedDevice> devices; // in file order
    // Beside devices, only when the check was asked to keep them: each entry's
    // values, shared by the devices the entry gives the same values.
    std::deque<std::shared_ptr<const EntryValues>> values;
    std::vector<Finding> findings;         // by line
    bool lineTooLong = false;              // the reading ended at a line past the cap
    std::optional<DigestValue> fileDigest; // of a regular file's bytes as read, when asked

    // The check's own copy of text, alive as long as the check.
    std::string_view hold(std::string_view text);
    void report(std::size_t line, std::string_view message);

  private:
    std::unordered_set<std::string> texts_;
};

struct CheckOptions {
    bool keepValues = false; // each device's entry values, for a batch that writes them
    bool digest = false;     // the SHA-256 of a regular file's bytes as they were read
};

// The check a few lines at a time, for a caller that takes each device as its
// entry closes (popping it from check.devices) rather than holding them all.
class UpdateDataReading {
  public:
    UpdateDataReading(UpdateDataCheck& check, const CheckOptions& options = {});
    ~UpdateDataReading();
    UpdateDataReading(const UpdateDataReading&) = delete;
    UpdateDataReading& operator=(const UpdateDataReading&) = delete;

    // Fails with 67 (update_data_unreadable, the system's reason).
    Result<> open(std::string_view path);
    // Instead of open(): a file this process has open for reading, read from its
    // first byte whatever its position (a writer reading back what it wrote); it
    // must outlive the reading, and path names it in a failure.
    void open_written(const platform::File& file, std::string_view path);
    // After open(): reads on until check.devices gains a device or the file
    // ends; false once it has ended.
    bool read_some();
    // Reads to the end, then puts the findings in line order and takes the
    // digest. Fails with 67 when a read failed: the devices were cut short.
    Result<> finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Reads the update-data file once, in time linear in its size and with memory
// for its longest line and a few words a device. Image names are looked up
// relative to the working directory. Fails with 67 (update_data_unreadable, the
// system's reason) when it cannot be read.
Result<> check_update_data(std::string_view path, UpdateDataCheck& check,
                           const CheckOptions& options = {});
