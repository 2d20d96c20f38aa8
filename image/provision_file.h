#pragma once

#include "common/board_data.h"
#include "common/status.h"

#include <cstdint>
#include <string_view>

// Copies count bytes from in's position to out's, or everything to the end of
// in when count is 0. 0 on success; -1 when in ends before count is met or a
// read or write fails.
int copy(int in, int out, std::uint64_t count);

// The provisioning stage: writes the base image with boardData's BDP region
// and a resealed header to outputPath. 0, 67 or 69.
Status provisionFile(const BoardData& boardData, std::string_view basePath,
                     std::string_view outputPath);
