#pragma once

#include "common/board_data.h"
#include "common/device_id.h"
#include "common/status.h"
#include "provisioning_data/update_data.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Decodes hexadecimal text into bytes from destination's first byte. Checks, in
// this order: odd length (1), a character that is not a hex digit (65), more
// bytes than destination holds (69). Writes nothing unless all pass.
Status string_to_databuff(std::string_view text, std::span<std::uint8_t> destination);

// The first half of the board-data stage: the device's entry's values, or the
// lookup's failure with its line. 0, 67 or 69.
Status find_board_entry(std::string_view path, DeviceId id, EntryValues& values);

// The second half of the board-data stage, for an entry's values however found:
// reports the switch and image name, decodes the blobs into boardData. 0, 1, 65 or 69.
Status take_board_data(const EntryValues& values, BoardData& boardData, std::string& imageName);

// The board-data stage: finds the device's entry, reports its switch and image
// name and fills boardData. 0, or 1, 65, 67 or 69.
Status readBdp(std::string_view path, DeviceId id, BoardData& boardData, std::string& imageName);
