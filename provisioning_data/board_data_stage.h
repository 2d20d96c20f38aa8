#pragma once

#include "common/board_data.h"
#include "common/device_id.h"
#include "common/status.h"
#include "platform/platform.h"
#include "provisioning_data/update_data.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Checks hexadecimal text for a destination of capacity bytes, in this order:
// odd length (1), a character that is not a hex digit (65), more bytes than
// capacity (69).
Status check_hex_text(std::string_view text, std::size_t capacity);

// Decodes hexadecimal text into bytes from destination's first byte, after
// check_hex_text; writes nothing unless it passes.
Status string_to_databuff(std::string_view text, std::span<std::uint8_t> destination);

// The device's entry in the update-data file as fwbforge2 finds it, printing nothing.
EntryLookup find_device_entry(std::string_view path, DeviceId id, EntryValues& values,
                              platform::Error& error);

inline constexpr std::string_view kMacBlobName = "mac_string";
inline constexpr std::string_view kPhyBlobName = "phy_string";

// The first blob text of an entry that does not decode: string_to_databuff's
// status (0 when both decode) and the blob's name.
struct BlobRefusal {
    Status status = PROVKIT_OK;
    std::string_view blobName;
};

// Decodes the entry's MAC text, then its PHY text, into boardData, printing
// nothing, and stops at the first that does not decode; exprom is set only
// when both do.
BlobRefusal decode_entry(const EntryValues& values, BoardData& boardData);

// The first half of the board-data stage: the device's entry's values, or the
// lookup's failure with its line. 0, 67 or 69.
Status find_board_entry(std::string_view path, DeviceId id, EntryValues& values);

// The second half of the board-data stage, for an entry's values however found:
// reports the switch and image name, decodes the blobs into boardData. 0, 1, 65 or 69.
Status take_board_data(const EntryValues& values, BoardData& boardData, std::string& imageName);

// The same for values decoded before (decode_entry's refusal): the lines only.
Status report_board_data(const EntryValues& values, const BlobRefusal& refusal);

// The board-data stage: finds the device's entry, reports its switch and image
// name and fills boardData. 0, or 1, 65, 67 or 69.
Status readBdp(std::string_view path, DeviceId id, BoardData& boardData, std::string& imageName);
