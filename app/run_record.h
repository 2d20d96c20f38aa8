#pragma once

#include "app/json_text.h"
#include "common/device_id.h"
#include "common/status.h"
#include "image/calc_hash.h"
#include "image/provision_file.h"
#include "platform/platform.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What one device's run found out: its JSON object, its record line and its
// manifest entry are all made from this.
struct RunFacts {
    Status status = PROVKIT_OK;
    bool dryRun = false;
    std::optional<DeviceId> id;
    std::string updateDataPath;
    std::optional<DigestValue> updateDataDigest;
    std::optional<std::string> imageName;
    std::optional<std::string> basePath; // the image name, or where --base-dir puts it
    std::optional<DigestValue> baseDigest;
    std::optional<bool> baseVerified;
    std::string outputPath;
    std::optional<std::uint64_t> outputLength;
    std::optional<DigestValue> outputDigest;
    std::optional<std::uint32_t> macLength;
    std::optional<std::uint32_t> phyLength;
    std::optional<std::uint32_t> exprom;
    std::string printed; // every line the run printed, or would have
};

// Who ran a run, where and when: what a record line adds to the run.
struct RunStamp {
    std::string time; // UTC, RFC 3339
    std::string host;
    std::string user;
};
RunStamp stamp_now();

// The run as --json prints it and, stamped, as --record appends it.
Json run_json(const RunFacts& facts, const RunStamp* stamp = nullptr);
// A batch image's file name: vid-did-svid-ssid.fwb, four hex digits each.
std::string image_file_name(DeviceId id);
// The digest as hex, or null.
Json digest_json(const std::optional<DigestValue>& digest);
