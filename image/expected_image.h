#pragma once

#include "common/board_data.h"
#include "common/failure.h"
#include "image/base_image.h"
#include "image/header_sealing.h"

#include <memory>
#include <string_view>

// The image fwbforge2 would write for a device, without writing it: the base as
// fwbforge2 opens it, with the sealed header and region to lay over its bytes.
// What fwbinspect --expect compares an image against.
struct ExpectedImage {
    std::shared_ptr<BaseImage> base;
    ProvisionedParts parts;
    // Why fwbforge2 would refuse to write it (69): a region that cannot take the
    // board data (region_too_small, region_outside); none when it would write it.
    Failure refusal;
};

// Fails, as provisioning would, with 67 for a base that cannot be opened
// (base_unopenable, base_is_stream).
Result<ExpectedImage> expected_image(const BoardData& boardData, std::string_view basePath);
