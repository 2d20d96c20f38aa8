#pragma once

#include "app/json_text.h"
#include "app/output.h"
#include "common/device_id.h"
#include "image/image_comparison.h"
#include "image/image_inspection.h"
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

// An image held against the one fwbforge2 would write for a device.
struct ExpectReport {
    std::string_view image;
    std::uint64_t imageLength = 0;
    DeviceId device;
    std::string_view updateData;
    std::optional<EntryValues> entry;      // when the device has one
    std::optional<std::uint16_t> macBytes; // the entry's decoded lengths; none when invalid
    std::optional<std::uint16_t> phyBytes;
    std::optional<std::string> base; // when it was opened
    bool baseGiven = false;          // with --base, not the entry's <image>
    std::uint64_t baseLength = 0;
    std::optional<std::vector<std::string_view>> baseUnsealed; // when its chain was checked
    std::string refusal; // why fwbforge2 would write no image; empty when it would
    std::vector<PartDifference> differences;

    bool asExpected() const { return refusal.empty() && differences.empty(); }
};

std::string expect_report_text(const ExpectReport& report);
// With the head, the status and, when it was refused, no differences.
Json expect_report_json(const ExpectReport& report);

// Two images side by side.
struct DiffReport {
    std::string_view a;
    std::string_view b;
    ImageComparison comparison;
};

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

// One line on standard error: what could not be done to path, and why.
void diagnose(std::string_view what, std::string_view path, std::string_view reason);

// One labelled line of a text report, as every report writes them.
std::string field(std::string_view label, std::string_view value);

std::string blob_type_name(std::uint32_t type);
