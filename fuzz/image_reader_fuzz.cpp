// fwbinspect's reader, both of its reports and the layout's named parts on
// arbitrary image bytes.
#include "app/reports.h"
#include "fuzz/harness.h"
#include "image/image_comparison.h"
#include "image/image_inspection.h"

#include <algorithm>

namespace {

// The parts follow each other without a gap from offset 0 to the end of any file.
void check_parts(const std::uint8_t* data, std::size_t size) {
    ImageHeader header{};
    std::copy_n(data, std::min(size, header.size()), header.begin());
    std::array<std::uint8_t, layout::kBdpTableSize> table{};
    const std::size_t tableAt = std::min<std::size_t>(size, placement_of(header).bdpOffset);
    std::copy_n(data + tableAt, std::min(size - tableAt, table.size()), table.begin());
    const std::vector<ImagePart> parts = image_parts(header, table);
    FUZZ_CHECK(!parts.empty() && parts.front().from == 0 && parts.back().to == UINT64_MAX);
    for (std::size_t i = 1; i < parts.size(); ++i) {
        FUZZ_CHECK(parts[i].from == parts[i - 1].to && parts[i].from < parts[i].to);
    }
}

} // namespace

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
    check_parts(data, size);
    return 0;
}
