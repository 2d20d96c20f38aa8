#include "app/expectation.h"
#include "app/failure_text.h"
#include "app/inspect_modes.h"
#include "app/lookup_notes.h"
#include "app/output.h"
#include "app/reports.h"
#include "image/expected_image.h"
#include "image/header_sealing.h"
#include "image/image_comparison.h"
#include "image/image_reading.h"
#include "platform/platform.h"
#include "provisioning_data/board_data_stage.h"
#include "provisioning_data/device_key.h"
#include "provisioning_data/line_reader.h"

#include <algorithm>

using namespace layout;

namespace {

std::optional<std::uint16_t> decoded_length(std::string_view text) {
    if (!check_hex_text(text, kBlobCapacity)) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(text.size() / 2);
}

} // namespace

std::string refusal_text(const Failure& failure) {
    const std::string quoted = " (" + forge_words(failure) + ")";
    const std::string blob(failure.subject == kMacBlobName ? kMacName : kPhyName);
    switch (failure.check) {
    case Check::line_too_long:
        return "a line of the update data is longer than " + std::to_string(kMaxLineLength >> 20) +
               " MiB, where fwbforge2 stops" + quoted;
    case Check::no_entry:
        return "no entry for the device in the update data";
    case Check::odd_hex:
        return "the " + blob + " text has an odd length" + quoted;
    case Check::bad_hex:
        return "the " + blob + " text holds a character that is not a hex digit" + quoted;
    case Check::long_hex:
        return "the " + blob + " text is longer than 1024 bytes" + quoted;
    case Check::base_unopenable:
        return "the base image " + c_quoted(failure.path) +
               " does not exist (fwbforge2: " + forge_words(failure) + ")";
    case Check::region_too_small:
        return "the base image's BDP region is too small for the board data (fwbforge2: " +
               forge_words(failure) + ")";
    case Check::region_outside:
        return "the base image's BDP region starts inside its header or ends past its end "
               "(fwbforge2: " +
               forge_words(failure) + ")";
    default:
        return {};
    }
}

namespace {

// The device's board data as fwbforge2 takes it. 0, 67 or 69 (a refusal, in report).
int look_up_board_data(const ExpectRequest& request, ExpectReport& report, BoardData& board,
                       Transcript& out) {
    const BoardDataStage stage = readBdp(request.updateData, report.device);
    if (stage.failure.check == Check::update_data_unreadable) {
        out.line("Unable to open file! ", request.updateData);
        diagnose("cannot read", request.updateData, stage.failure.reason.reason());
        return PROVKIT_ERR_FILE;
    }
    if (stage.failure.check == Check::no_entry) {
        explain_missing_entry(request.updateData, report.device);
    }
    if (stage.entry) {
        warn_if_exprom_unclear(*stage.entry, request.updateData);
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
int expect_parts(const ExpectRequest& request, ExpectReport& report, ExpectedImage& expected,
                 Transcript& out) {
    BoardData board;
    if (const int looked = look_up_board_data(request, report, board, out); looked != PROVKIT_OK) {
        return looked;
    }
    const std::string path =
        request.base ? *request.base : base_image_path(request.baseDir, report.entry->imageName);
    return expected_from(board, path, request.base.has_value(), report, expected, out);
}

} // namespace

int compare_with_expected(const OpenedImage& image, const ExpectedImage& expected,
                          ExpectReport& report, Transcript& out) {
    const BaseImage& base = *expected.base;
    const std::vector<ImagePart> layoutParts =
        image_parts(expected.parts.header, expected.parts.region.table);
    ImageComparison comparison;
    ReadFailure failure;
    if (!compare_images({&image.file, image.length, nullptr, std::nullopt},
                        {&base.file, base.length, &expected.parts, std::nullopt}, layoutParts,
                        comparison, failure)) {
        report_unreadable_image(out, failure.inB ? *report.base : report.image, failure.error);
        return PROVKIT_ERR_FILE;
    }
    if (comparison.lengthB < base.length) {
        out.line("Unable to read fwb ", *report.base);
        diagnose("cannot read", *report.base, "it ended before the length it had when opened");
        return PROVKIT_ERR_FILE;
    }
    report.imageLength = comparison.lengthA;
    report.differences = std::move(comparison.differences);
    return PROVKIT_OK;
}

int expected_from(const BoardData& board, const std::string& basePath, bool baseGiven,
                  ExpectReport& report, ExpectedImage& expected, Transcript& out) {
    Result<ExpectedImage> made = expected_image(board, basePath);
    if (!made && made.error().reason.missing() && !baseGiven) {
        report.refusal = refusal_text(made.error());
        return PROVKIT_ERR_DATA;
    }
    if (!made) {
        report_unreadable_image(out, basePath, made.error().reason);
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

namespace {

// The region its header gives, when it lies after the header and inside the file.
std::optional<BdpPlacement> region_of(const ImageFrame& frame, std::uint64_t length) {
    const BdpPlacement placement = placement_of(frame.header);
    if (!holds_placement(frame.header) || !region_inside_image(placement, length)) {
        return std::nullopt;
    }
    return placement;
}

} // namespace

int expect_image(const ExpectRequest& request) {
    Transcript out(!request.json);
    ExpectReport report;
    report.image = request.image;
    report.updateData = request.updateData;
    const Result<DeviceId> id = parse_device_id(request.identifiers);
    if (!id) {
        const Failure& failure = id.error();
        out.text(field("refused", std::string(failure.subject) + " " + failure.path +
                                      " does not fit 16 bits (" + forge_words(failure) + ")"));
        return finish_failed(out, request.json, "expect", failure.status);
    }
    report.device = *id;
    note_identifiers_read_as(request.identifiers, *id);
    OpenedImage image;
    platform::Error error;
    if (!open_image(request.image, ImageKinds::regular_only, image, error)) {
        report_unreadable_image(out, request.image, error);
        return finish_failed(out, request.json, "expect", PROVKIT_ERR_FILE);
    }
    report.imageLength = image.length;
    ExpectedImage expected;
    int status = expect_parts(request, report, expected, out);
    if (status == PROVKIT_OK) {
        status = compare_with_expected(image, expected, report, out);
    }
    if (status == PROVKIT_ERR_FILE) {
        return finish_failed(out, request.json, "expect", status);
    }
    if (request.json) {
        print_json(expect_report_json(report));
    } else {
        print_text(expect_report_text(report));
    }
    return report.asExpected() ? PROVKIT_OK : PROVKIT_ERR_DATA;
}

int diff_images(std::string_view a, std::string_view b, bool jsonReport) {
    Transcript out(!jsonReport);
    OpenedImage imageA;
    OpenedImage imageB;
    platform::Error error;
    const bool openedA = open_image(a, ImageKinds::regular_only, imageA, error);
    if (!openedA) {
        report_unreadable_image(out, a, error);
    }
    const bool openedB = open_image(b, ImageKinds::regular_only, imageB, error);
    if (!openedB) {
        report_unreadable_image(out, b, error);
    }
    if (!openedA || !openedB) {
        return finish_failed(out, jsonReport, "diff", PROVKIT_ERR_FILE);
    }
    ImageBytes sourceA(imageA.file, imageA.length);
    ImageFrame frameA;
    if (error = read_frame(sourceA, frameA); error.failed()) {
        report_unreadable_image(out, a, error);
        return finish_failed(out, jsonReport, "diff", PROVKIT_ERR_FILE);
    }
    sourceA.shorten_to_current_size();
    ImageHeader header{};
    std::copy(frameA.header.begin(), frameA.header.end(), header.begin());
    std::array<std::uint8_t, kBdpTableSize> table{};
    std::copy(frameA.table.begin(), frameA.table.end(), table.begin());
    DiffReport report{a, b, {}};
    ReadFailure failure;
    ImageBytes sourceB(imageB.file, imageB.length);
    ImageFrame frameB;
    if (error = read_frame(sourceB, frameB); error.failed()) {
        report_unreadable_image(out, b, error);
        return finish_failed(out, jsonReport, "diff", PROVKIT_ERR_FILE);
    }
    sourceB.shorten_to_current_size();
    if (!compare_images(
            {&imageA.file, sourceA.length(), nullptr, region_of(frameA, sourceA.length())},
            {&imageB.file, sourceB.length(), nullptr, region_of(frameB, sourceB.length())},
            image_parts(header, table), report.comparison, failure)) {
        report_unreadable_image(out, failure.inB ? b : a, failure.error);
        return finish_failed(out, jsonReport, "diff", PROVKIT_ERR_FILE);
    }
    if (jsonReport) {
        print_json(diff_report_json(report));
    } else {
        print_text(diff_report_text(report));
    }
    return report.comparison.differences.empty() ? PROVKIT_OK : PROVKIT_ERR_DATA;
}
