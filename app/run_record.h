#pragma once

#include "common/device_id.h"
#include "common/status.h"
#include "image/calc_hash.h"
#include "image/provision_file.h"
#include "platform/platform.h"

#include <cstdint>
#include <nlohmann/json.hpp>
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

using Json = nlohmann::ordered_json;

// The run as --json prints it and --record appends it.
Json run_json(const RunFacts& facts);
// A batch image's file name: vid-did-svid-ssid.fwb, four hex digits each.
std::string image_file_name(DeviceId id);
// The lines printed, each without its line feed.
std::vector<std::string> printed_lines(std::string_view printed);
// The digest as hex, or null.
Json digest_json(const std::optional<DigestValue>& digest);

// Pretty, as --json prints it, with a closing line feed.
std::string json_text(const Json& json);
// One line of JSON Lines.
std::string json_line(const Json& json);

// The SHA-256 of a regular file's bytes; nothing for a pipe or a device, which
// cannot be read again, or when it cannot be read.
std::optional<DigestValue> file_digest(std::string_view path);

// A file of JSON lines that concurrent runs append to: each append takes the
// file's lock, writes its lines whole, flushes them and lets go, so no line is
// lost or torn. Failures are explained on standard error.
class RunRecord {
  public:
    // Opens the file, creating it with 0666 less the umask, unless it is one of others.
    bool open(std::string_view path, std::span<const RunFile> others);
    bool is_open() const { return file_.valid(); }
    // Closes the record, explaining why, when it is the file at path (a base image
    // the run is to read, say), whose role tells which.
    bool is_not(std::string_view path, std::string_view role);
    // The record's identity, once it is open.
    std::optional<platform::FileIdentity> identity() const;
    // Appends lines (each ending in a line feed); on a failure the file is cut
    // back to where it ended, so it never holds part of a line.
    bool append(std::string_view lines);
    const std::string& path() const { return path_; }

  private:
    bool fail(std::string_view action, platform::Error error);

    platform::File file_;
    std::string path_;
};
