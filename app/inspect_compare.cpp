#include "app/expectation.h"
#include "app/inspect_modes.h"
#include "app/lookup_notes.h"
#include "app/output.h"
#include "app/reports.h"
#include "lib/failure_text.h"
#include "lib/image_checks.h"
#include "provisioning_data/device_key.h"

namespace {

// The lines for each file that could not be read, as found.
void report_failures(Transcript& out, const Failures& failures) {
    for (const ToolLines& lines : failures) {
        report_tool_lines(out, lines);
    }
}

} // namespace

int expected_from(const BoardData& board, const std::string& basePath, bool baseGiven,
                  ExpectReport& report, ExpectedImage& expected, Transcript& out) {
    Failures failures;
    const int status = expected_from(board, basePath, baseGiven, report, expected, failures);
    report_failures(out, failures);
    return status;
}

int compare_with_expected(const OpenedImage& image, const ExpectedImage& expected,
                          ExpectReport& report, Transcript& out) {
    Failures failures;
    const int status = compare_with_expected(image, expected, report, failures);
    report_failures(out, failures);
    return status;
}

int expect_image(const ExpectRequest& request) {
    Transcript out(!request.json);
    const Result<DeviceId> id = parse_device_id(request.identifiers);
    if (!id) {
        const Failure& failure = id.error();
        out.text(field("refused", std::string(failure.subject) + " " + failure.path +
                                      " does not fit 16 bits (" + forge_words(failure) + ")"));
        return finish_failed(out, request.json, "expect", failure.status);
    }
    note_identifiers_read_as(request.identifiers, *id);
    ExpectReport report;
    Failures failures;
    const int status = expect_against(
        {request.image, *id, request.updateData,
         request.base ? std::optional<std::string_view>(*request.base) : std::nullopt,
         request.baseDir},
        report, failures);
    if (report.noEntry) {
        explain_missing_entry(request.updateData, *id);
    }
    if (report.entry) {
        warn_if_exprom_unclear(*report.entry, request.updateData);
    }
    if (status == PROVKIT_ERR_FILE) {
        report_failures(out, failures);
        return finish_failed(out, request.json, "expect", status);
    }
    if (request.json) {
        print_json(expect_report_json(report));
    } else {
        print_text(expect_report_text(report));
    }
    return status;
}

int diff_images(std::string_view a, std::string_view b, bool jsonReport) {
    Transcript out(!jsonReport);
    DiffReport report{a, b, {}};
    Failures failures;
    const int status = diff_against(report, failures);
    if (status == PROVKIT_ERR_FILE) {
        report_failures(out, failures);
        return finish_failed(out, jsonReport, "diff", status);
    }
    if (jsonReport) {
        print_json(diff_report_json(report));
    } else {
        print_text(diff_report_text(report));
    }
    return status;
}
