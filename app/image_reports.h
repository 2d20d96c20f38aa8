#pragma once

#include "app/reports.h"
#include "image/image_inspection.h"
#include "image/image_reading.h"

#include <cstddef>
#include <span>
#include <string_view>

// fwbinspect IMAGE's report of one image, as text or JSON. A blob a table
// claims may be 16 MiB: its hex goes out a block at a time, read from the image.

struct InspectedImage {
    std::string_view path;
    const ImageInspection* inspection = nullptr;
    ImageBytes* blobs = nullptr; // where the blobs are read; none: no blob lines
};

// The text report, a blob's hex (when asked) as it is read.
bool print_image_report_text(ChunkedOutput& out, const InspectedImage& image);

// The JSON report. A blob's hex stands as a placeholder naming image (its index
// among the images printed together) and the entry, which print_json_with_blobs
// fills as it writes.
Json image_report_json(const InspectedImage& image, std::size_t index);

// Writes report as nlohmann prints it with an indent of 2, each placeholder
// replaced by its blob's hex. False when a blob could not be read.
bool print_json_with_blobs(ChunkedOutput& out, const Json& report,
                           std::span<const InspectedImage> images);
