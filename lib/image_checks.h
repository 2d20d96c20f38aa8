#pragma once

#include "common/device_id.h"
#include "image/expected_image.h"
#include "image/image_comparison.h"
#include "image/image_reading.h"
#include "lib/tool_lines.h"
#include "provisioning_data/update_data.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// fwbinspect's comparisons as values: what its reports are made from, and the
// lines for a file it could not read.

using Failures = std::vector<ToolLines>;

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
    std::string refusal;  // why fwbforge2 would write no image; empty when it would
    bool noEntry = false; // the refusal is that the update data has no entry for the device
    std::vector<PartDifference> differences;

    bool asExpected() const { return refusal.empty() && differences.empty(); }
};

struct ExpectInputs {
    std::string_view image;
    DeviceId device;
    std::string_view updateData;
    std::optional<std::string_view> base; // stands for the entry's base image
    std::optional<std::string> baseDir;   // where a relative name in the entry is taken from
};

// The base image an entry names: relative to baseDir when one is given and the
// name is not absolute, else as it is.
std::string base_image_path(const std::optional<std::string>& baseDir, std::string_view imageName);

// The image fwbforge2 would write from board over the base at basePath; a
// missing base the entry names (not one given) is fwbforge2's refusal. 0, 67
// (the file's lines in failures) or 69 (in report).
int expected_from(const BoardData& board, const std::string& basePath, bool baseGiven,
                  ExpectReport& report, ExpectedImage& expected, Failures& failures);

// Puts in report the parts where image differs from expected: 0, or 67.
int compare_with_expected(const OpenedImage& image, const ExpectedImage& expected,
                          ExpectReport& report, Failures& failures);

// Holds an image against the one fwbforge2 would write for the device: 0 as
// expected, 69 with a refusal or the differences in report, 67 with the lines
// for the file that could not be read in failures.
int expect_against(const ExpectInputs& request, ExpectReport& report, Failures& failures);

// Two images side by side.
struct DiffReport {
    std::string_view a;
    std::string_view b;
    ImageComparison comparison;
};

// Compares report.a with report.b into report.comparison: 0 identical, 69
// differing, 67 with the lines for each file that could not be read.
int diff_against(DiffReport& report, Failures& failures);
