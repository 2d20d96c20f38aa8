#include "image/image_inspection.h"
#include "image/image_reading.h"
#include "lib/api_support.h"
#include "lib/image_checks.h"

namespace fwbforge2 {

namespace {

DigestCheck digest_check(std::string name, const ::DigestCheck& check) {
    return {std::move(name), check.stored, check.computed, check.inFile, check.holds()};
}

Inspection public_inspection(const ImageInspection& inspection) {
    Inspection result;
    result.length = inspection.fileLength;
    result.header_complete = inspection.headerComplete;
    result.bdp_offset = inspection.placement.bdpOffset;
    result.bdp_size = inspection.placement.bdpSize;
    result.region_valid = inspection.regionValid;
    result.exprom_cleared = inspection.expromCleared();
    result.digests = {digest_check("header digest", inspection.headerDigest),
                      digest_check("second-area digest", inspection.secondAreaDigest),
                      digest_check("table digest", inspection.tableDigest)};
    for (const EntryInspection& entry : inspection.entries) {
        result.entries.push_back(
            {entry.index, entry.type, std::string(layout::blob_name(entry.type)), entry.length,
             entry.blobOffset, entry.inRegion,
             digest_check("entry " + std::to_string(entry.index) + " digest", entry.digest)});
    }
    result.verified = inspection.verified();
    return result;
}

std::vector<Difference> public_differences(const std::vector<PartDifference>& differences) {
    std::vector<Difference> result;
    result.reserve(differences.size());
    for (const PartDifference& difference : differences) {
        result.push_back({difference.part, difference.offset});
    }
    return result;
}

// Each file's lines, in the order fwbinspect prints them.
Error unreadable(const Failures& failures) {
    Error error{PROVKIT_ERR_FILE, {}};
    for (const ToolLines& lines : failures) {
        for (std::string& line : message_lines(lines, kInspectProgram)) {
            error.messages.push_back(std::move(line));
        }
    }
    return error;
}

} // namespace

Result<Inspection> inspect(std::string_view image) {
    OpenedImage opened;
    platform::Error error;
    ImageInspection inspection;
    if (open_image(image, ImageKinds::regular_only, opened, error)) {
        ImageBytes source(opened.file, opened.length);
        error = inspect_image(source, inspection);
        if (!error.failed()) {
            return public_inspection(inspection);
        }
    }
    return error_of(PROVKIT_ERR_FILE, unreadable_image_lines(image, error), kInspectProgram);
}

Result<Expectation> expect(std::string_view image, DeviceId device, std::string_view updateData,
                           std::optional<std::string_view> base) {
    ExpectReport report;
    Failures failures;
    const int status = expect_against({image, internal_id(device), updateData, base, std::nullopt},
                                      report, failures);
    if (status == PROVKIT_ERR_FILE) {
        return unreadable(failures);
    }
    Expectation result;
    result.as_expected = status == PROVKIT_OK;
    result.refusal = report.refusal;
    result.length = report.imageLength;
    result.base = report.base.value_or("");
    result.differences = public_differences(report.differences);
    return result;
}

Result<Comparison> diff(std::string_view a, std::string_view b) {
    DiffReport report{a, b, {}};
    Failures failures;
    const int status = diff_against(report, failures);
    if (status == PROVKIT_ERR_FILE) {
        return unreadable(failures);
    }
    return Comparison{status == PROVKIT_OK, report.comparison.lengthA, report.comparison.lengthB,
                      public_differences(report.comparison.differences)};
}

std::string_view version() {
    return FWBFORGE2_VERSION;
}

} // namespace fwbforge2
