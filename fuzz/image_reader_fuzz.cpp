// fwbinspect's reader, both of its reports and the layout's named parts on
// arbitrary image bytes.
#include "app/image_reports.h"
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
    (void)fuzz::scratch(); // silences the reports
    ImageBytes bytes(std::span(data, size));
    ImageInspection inspection;
    FUZZ_CHECK(!inspect_image(bytes, inspection).failed());
    FUZZ_CHECK(inspection.fileLength == size && inspection.entries.size() <= 8);
    for (const EntryInspection& entry : inspection.entries) {
        FUZZ_CHECK(!entry.inRegion || entry.blobOffset + layout::align4(entry.length) <= size);
    }
    if (inspection.verified()) {
        FUZZ_CHECK(inspection.regionValid && inspection.headerComplete);
    }
    ChunkedOutput out;
    const InspectedImage image{"fuzz.fwb", &inspection, &bytes};
    FUZZ_CHECK(print_image_report_text(out, image));
    FUZZ_CHECK(print_json_with_blobs(out, image_report_json(image, 0), std::span(&image, 1)));
    check_parts(data, size);
    return 0;
}
