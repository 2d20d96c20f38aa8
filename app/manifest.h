#pragma once

#include "app/run_record.h"
#include "common/device_id.h"
#include "common/status.h"
#include "image/calc_hash.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// What a batch's manifest keeps of each device: a few words, so that a batch of a
// million devices fits in memory; a failed device's lines beside it.
struct ManifestDevice {
    DeviceId id;
    Status status = PROVKIT_OK;
    std::string_view imageName; // held by the batch for the whole run
    std::uint64_t length = 0;
    DigestValue sha256{};
    std::uint32_t baseDigest = 0; // into the manifest's base digests
    std::uint32_t failure = 0;    // a failed device's lines, into the manifest's failures
    std::uint32_t macLength = 0;
    std::uint32_t phyLength = 0;
    std::uint32_t exprom = 0;
};

// A batch's manifest, written at the end a piece at a time: into its file, into
// the digest a dry run prints, or to standard output.
class Manifest {
  public:
    using Sink = std::function<bool(std::string_view)>;

    // imageName must outlive the manifest.
    void add(const RunFacts& facts, std::string_view imageName);
    std::size_t size() const { return devices_.size(); }

    // The text nlohmann prints for the same object with an indent of 2 and a
    // closing line feed. False when sink refused a piece.
    bool write(const Json& head, const Sink& sink) const;

  private:
    std::deque<ManifestDevice> devices_;
    std::vector<std::optional<DigestValue>> baseDigests_; // each base once, as the devices met them
    // Devices that fail alike print the same lines: each text is kept once.
    std::vector<std::vector<std::string>> failures_;
    std::unordered_map<std::string, std::uint32_t> failureIndex_;
};
