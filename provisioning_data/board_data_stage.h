#pragma once

#include "common/board_data.h"
#include "common/device_id.h"
#include "common/failure.h"
#include "provisioning_data/update_data.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

inline constexpr std::string_view kMacBlobName = "mac_string";
inline constexpr std::string_view kPhyBlobName = "phy_string";

// Checks hexadecimal text for a destination of capacity bytes, in this order:
// odd length (1, odd_hex), a character that is not a hex digit (65, bad_hex),
// more bytes than capacity (69, long_hex).
Result<> check_hex_text(std::string_view text, std::size_t capacity);

// Decodes hexadecimal text into bytes from destination's first byte, after
// check_hex_text; writes nothing unless it passes.
Result<> string_to_databuff(std::string_view text, std::span<std::uint8_t> destination);

// An entry's blobs decoded into a board-data record: the MAC text, then the PHY
// text, stopping at the first that does not decode (the failure's subject names
// it); the exprom switch is the entry's.
Result<BoardData> decode_board_data(const EntryValues& values);

// What the board-data stage found: the entry's values once the lookup found
// them, the board data once they decoded, and what failed (a lookup's failure,
// or a blob's).
struct BoardDataStage {
    std::optional<EntryValues> entry;
    BoardData boardData;
    Failure failure;
};

// The board-data stage: finds the device's entry and decodes its blobs; with
// fileDigest, also the digest of the update data as read (see get_xml_data).
BoardDataStage readBdp(std::string_view path, DeviceId id,
                       std::optional<DigestValue>* fileDigest = nullptr);
