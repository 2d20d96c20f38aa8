#include "lib/image_checks.h"

#include "image/expected_image.h"
#include "image/header_sealing.h"
#include "image/image_reading.h"
#include "platform/platform.h"
#include "provisioning_data/board_data_stage.h"

#include <algorithm>

using namespace layout;

namespace {

std::optional<std::uint16_t> decoded_length(std::string_view text) {
    if (!check_hex_text(text, kBlobCapacity)) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(text.size() / 2);
}

// The device's board data as fwbforge2 takes it. 0, 67 or 69 (a refusal, in report).
int look_up_board_data(const ExpectInputs& request, ExpectReport& report, BoardData& board,
                       Failures& failures) {
    const BoardDataStage stage = readBdp(request.updateData, report.device);
    if (stage.failure.check == Check::update_data_unreadable) {
        failures.push_back(unreadable_update_data_lines(request.updateData, stage.failure.reason));
        return PROVKIT_ERR_FILE;
    }
    report.noEntry = stage.failure.check == Check::no_entry;
    if (stage.entry) {
        report.macBytes = decoded_length(stage.entry->macText);
        report.phyBytes = decoded_length(stage.entry->phyText);
        report.entry = stage.entry;
    }
    if (stage.failure.failed()) {
        report.refusal = refusal_text(stage.failure);
        return PROVKIT_ERR_DATA;
    }
    board = stage.boardData;
    return PROVKIT_OK;
}

// The image fwbforge2 would write, over the base the entry names or --base gives.
int expect_parts(const ExpectInputs& request, ExpectReport& report, ExpectedImage& expected,
                 Failures& failures) {
    BoardData board;
    if (const int looked = look_up_board_data(request, report, board, failures);
        looked != PROVKIT_OK) {
        return looked;
    }
    const std::string path(request.base
                               ? std::string(*request.base)
                               : base_image_path(request.baseDir, report.entry->imageName));
    return expected_from(board, path, request.base.has_value(), report, expected, failures);
}

// The region its header gives, when it lies after the header and inside the file.
std::optional<BdpPlacement> region_of(const ImageFrame& frame, std::uint64_t length) {
    const BdpPlacement placement = placement_of(frame.header);
    if (!holds_placement(frame.header) || !region_inside_image(placement, length)) {
        return std::nullopt;
    }
    return placement;
}

// Opens an image as fwbinspect compares it: a regular file only.
bool open_compared(std::string_view path, OpenedImage& image, Failures& failures) {
    platform::Error error;
    if (!open_image(path, ImageKinds::regular_only, image, error)) {
        failures.push_back(unreadable_image_lines(path, error));
        return false;
    }
    return true;
}

// The header and table of an opened image, as far as it holds them; the
// length shrinks to what could be read.
bool read_compared_frame(std::string_view path, ImageBytes& source, ImageFrame& frame,
                         Failures& failures) {
    if (const platform::Error error = read_frame(source, frame); error.failed()) {
        failures.push_back(unreadable_image_lines(path, error));
        return false;
    }
    source.shorten_to_current_size();
    return true;
}

} // namespace

int expected_from(const BoardData& board, const std::string& basePath, bool baseGiven,
                  ExpectReport& report, ExpectedImage& expected, Failures& failures) {
    Result<ExpectedImage> made = expected_image(board, basePath);
    if (!made && made.error().reason.missing() && !baseGiven) {
        report.refusal = refusal_text(made.error());
        return PROVKIT_ERR_DATA;
    }
    if (!made) {
        failures.push_back(unreadable_image_lines(basePath, made.error().reason));
        return PROVKIT_ERR_FILE;
    }
    expected = std::move(*made);
    report.base = basePath;
    report.baseGiven = baseGiven;
    report.baseLength = expected.base->length;
    if (expected.refusal.failed()) {
        report.refusal = refusal_text(expected.refusal);
        return PROVKIT_ERR_DATA;
    }
    report.baseUnsealed = expected.base->unsealed;
    return PROVKIT_OK;
}

int compare_with_expected(const OpenedImage& image, const ExpectedImage& expected,
                          ExpectReport& report, Failures& failures) {
    const BaseImage& base = *expected.base;
    const std::vector<ImagePart> layoutParts =
        image_parts(expected.parts.header, expected.parts.region.table);
    ImageComparison comparison;
    ReadFailure failure;
    if (!compare_images({&image.file, image.length, nullptr, std::nullopt},
                        {&base.file, base.length, &expected.parts, std::nullopt}, layoutParts,
                        comparison, failure)) {
        failures.push_back(
            unreadable_image_lines(failure.inB ? *report.base : report.image, failure.error));
        return PROVKIT_ERR_FILE;
    }
    if (comparison.lengthB < base.length) {
        failures.push_back(shortened_image_lines(*report.base));
        return PROVKIT_ERR_FILE;
    }
    report.imageLength = comparison.lengthA;
    report.differences = std::move(comparison.differences);
    return PROVKIT_OK;
}

std::string base_image_path(const std::optional<std::string>& baseDir, std::string_view imageName) {
    if (!baseDir || platform::is_absolute(imageName)) {
        return std::string(imageName);
    }
    return platform::joined_path(*baseDir, imageName);
}

int expect_against(const ExpectInputs& request, ExpectReport& report, Failures& failures) {
    report.image = request.image;
    report.updateData = request.updateData;
    report.device = request.device;
    OpenedImage image;
    if (!open_compared(request.image, image, failures)) {
        return PROVKIT_ERR_FILE;
    }
    report.imageLength = image.length;
    ExpectedImage expected;
    int status = expect_parts(request, report, expected, failures);
    if (status == PROVKIT_OK) {
        status = compare_with_expected(image, expected, report, failures);
    }
    if (status == PROVKIT_ERR_FILE) {
        return status;
    }
    return report.asExpected() ? PROVKIT_OK : PROVKIT_ERR_DATA;
}

int diff_against(DiffReport& report, Failures& failures) {
    OpenedImage imageA;
    OpenedImage imageB;
    const bool openedA = open_compared(report.a, imageA, failures);
    const bool openedB = open_compared(report.b, imageB, failures);
    if (!openedA || !openedB) {
        return PROVKIT_ERR_FILE;
    }
    ImageBytes sourceA(imageA.file, imageA.length);
    ImageFrame frameA;
    if (!read_compared_frame(report.a, sourceA, frameA, failures)) {
        return PROVKIT_ERR_FILE;
    }
    ImageHeader header{};
    std::copy(frameA.header.begin(), frameA.header.end(), header.begin());
    std::array<std::uint8_t, kBdpTableSize> table{};
    std::copy(frameA.table.begin(), frameA.table.end(), table.begin());
    ImageBytes sourceB(imageB.file, imageB.length);
    ImageFrame frameB;
    if (!read_compared_frame(report.b, sourceB, frameB, failures)) {
        return PROVKIT_ERR_FILE;
    }
    ReadFailure failure;
    if (!compare_images(
            {&imageA.file, sourceA.length(), nullptr, region_of(frameA, sourceA.length())},
            {&imageB.file, sourceB.length(), nullptr, region_of(frameB, sourceB.length())},
            image_parts(header, table), report.comparison, failure)) {
        failures.push_back(
            unreadable_image_lines(failure.inB ? report.b : report.a, failure.error));
        return PROVKIT_ERR_FILE;
    }
    return report.comparison.differences.empty() ? PROVKIT_OK : PROVKIT_ERR_DATA;
}
