#pragma once

#include "common/board_data.h"
#include "common/device_id.h"
#include "common/status.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Decodes hexadecimal text into bytes from destination's first byte. Checks, in
// this order: odd length (1), a character that is not a hex digit (65), more
// bytes than destination holds (69). Writes nothing unless all pass.
Status string_to_databuff(std::string_view text, std::span<std::uint8_t> destination);

// The board-data stage: finds the device's entry, reports its switch and image
// name and fills boardData. 0, or 1, 65, 67 or 69.
Status readBdp(std::string_view path, DeviceId id, BoardData& boardData, std::string& imageName);
