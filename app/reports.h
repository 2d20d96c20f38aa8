#pragma once

#include "app/json_text.h"
#include "app/output.h"
#include "common/device_id.h"
#include "image/image_comparison.h"
#include "image/image_inspection.h"
#include "lib/image_checks.h"
#include "lib/tool_lines.h"
#include "provisioning_data/update_data.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// fwbinspect's reports, each as text for a person and as JSON for a program.

// "1 byte", "2 bytes": a count and its noun.
std::string count_of(std::uint64_t count, std::string_view noun);

// An image's path and length, as a report's first line gives them.
std::string image_line_text(std::string_view path, std::uint64_t length);

// Standard output in large pieces: a report of many lines costs few writes.
class ChunkedOutput {
  public:
    ChunkedOutput();
    ChunkedOutput(const ChunkedOutput&) = delete;
    ChunkedOutput& operator=(const ChunkedOutput&) = delete;
    ~ChunkedOutput();

    std::string& text() { return pending_; }
    // Writes what is gathered once it is a piece's worth.
    void maybe_flush();
    void flush();

  private:
    std::string pending_;
};

std::string expect_report_text(const ExpectReport& report);
// With the head, the status and, when it was refused, no differences.
Json expect_report_json(const ExpectReport& report);

std::string diff_report_text(const DiffReport& report);
Json diff_report_json(const DiffReport& report);

// A difference as the reports name it: "PART, first at 0x0000abcd".
std::string difference_text(const PartDifference& difference);
Json differences_json(const std::vector<PartDifference>& differences);

// A report as one JSON document, as nlohmann prints it with an indent of 2.
void print_json(const Json& report);

// A file that cannot be read: the line to out and the reason on standard error
// (clear: it is no regular file).
void report_unreadable_image(Transcript& out, std::string_view path, const platform::Error& error);

// A mode that failed before it had its report: as --json prints it, or nothing
// more when its lines went out as they came.
int finish_failed(const Transcript& out, bool json, std::string_view kind, int status);

// A failure's lines: the printed ones to out, the reason on standard error.
void report_tool_lines(Transcript& out, const ToolLines& lines);

// One line on standard error: what could not be done to path, and why.
void diagnose(std::string_view what, std::string_view path, std::string_view reason);

// One labelled line of a text report, as every report writes them.
std::string field(std::string_view label, std::string_view value);

std::string blob_type_name(std::uint32_t type);
