#pragma once

#include <optional>
#include <string>

// fwbinspect --manifest: a batch directory checked against its manifest and
// the update data before anything is flashed.
struct GateRequest {
    std::string manifest;
    std::optional<std::string> updateData; // the manifest's own when none
    std::optional<std::string> baseDir;    // where relative <image> names are found
    bool json = false;
};

// 0 when every image holds, 69 when anything differs, 67 when a file cannot be read.
int check_batch(const GateRequest& request);
