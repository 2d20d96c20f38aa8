#pragma once

#include "common/device_id.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A batch's manifest read a device at a time, so that a million devices cost
// no more memory than one.

// The members before "devices", as far as they were read when the first device came.
struct ManifestHead {
    std::optional<std::string> updateDataPath;
    std::optional<std::string> updateDataSha256;
    std::optional<std::vector<DeviceId>> selection;
};

struct ManifestEntry {
    std::optional<DeviceId> id; // none when its identifiers are not four hex digits each
    int status = -1;
    std::string imageName;
    std::string file;
    std::optional<std::uint64_t> length;
    std::string sha256;
};

struct ManifestReader {
    // Before the first device (or at the end, when there is none).
    std::function<void(const ManifestHead&)> head;
    // Each device in turn; false stops the reading.
    std::function<bool(const ManifestEntry&)> device;
};

// Reads the manifest's JSON text from path. Empty when it was read to its end;
// otherwise why not: the system's reason (reasonOfSystem true) or what is wrong
// with the text.
struct ManifestReadFailure {
    std::string reason;
    bool reasonOfSystem = false;
};
std::optional<ManifestReadFailure> read_manifest(std::string_view path,
                                                 const ManifestReader& reader);
