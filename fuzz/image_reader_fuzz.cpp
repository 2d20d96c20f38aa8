// fwbinspect's reader and both of its reports on arbitrary image bytes.
#include "app/reports.h"
#include "fuzz/harness.h"
#include "image/image_inspection.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ImageInspection inspection = inspect_image(std::span(data, size));
    FUZZ_CHECK(inspection.fileLength == size && inspection.entries.size() <= 8);
    for (const EntryInspection& entry : inspection.entries) {
        FUZZ_CHECK(entry.blob.empty() || (entry.blob.data() >= data &&
                                          entry.blob.data() + entry.blob.size() <= data + size));
    }
    if (inspection.verified()) {
        FUZZ_CHECK(inspection.regionValid && inspection.headerComplete);
    }
    FUZZ_CHECK(!image_report_text("fuzz.fwb", inspection, true).empty());
    FUZZ_CHECK(!image_report_json("fuzz.fwb", inspection, true)
                    .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                    .empty());
    return 0;
}
