#pragma once

#include "common/board_data.h"
#include "common/status.h"
#include "platform/platform.h"

#include <cstdint>
#include <optional>
#include <string_view>

// Why a copy stopped short: the input (which ended early when error is clear)
// or the output.
struct CopyFailure {
    bool inInput = false;
    platform::Error error;
};

// Copies count bytes of in, from inOffset, to out: at outOffset, or at out's
// position when there is none (an output that streams). 0 on success; -1 when
// in ends before count is met or a read or write fails.
int copy(const platform::File& in, std::uint64_t inOffset, const platform::File& out,
         std::optional<std::uint64_t> outOffset, std::uint64_t count, CopyFailure& failure);

// The provisioning stage: writes the base image with boardData's BDP region
// and a resealed header to outputPath. 0, 67 or 69.
Status provisionFile(const BoardData& boardData, std::string_view basePath,
                     std::string_view outputPath);
