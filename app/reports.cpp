#include "app/reports.h"

#include "app/json_document.h"
#include "app/output.h"
#include "common/hex.h"
#include "image/layout.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>

namespace {

constexpr int kLabelWidth = 19;
// What a report gathers before it is written: few writes, however many devices.
constexpr std::size_t kOutputChunk = 64 * 1024;

std::string hex_offset(std::uint64_t value) {
    std::array<char, 24> text{};
    std::snprintf(text.data(), text.size(), "0x%08llx", static_cast<unsigned long long>(value));
    return text.data();
}

std::string key_text(DeviceId id) {
    return "vid=" + hex16(id.vid) + " did=" + hex16(id.did) + " svid=" + hex16(id.svid) +
           " ssid=" + hex16(id.ssid);
}

std::string blob_length_text(std::optional<std::uint16_t> length) {
    return length ? count_of(*length, "byte") : "invalid";
}

Json length_json(std::optional<std::uint16_t> length) {
    return length ? Json(*length) : Json(nullptr);
}

std::string differences_text(const std::vector<PartDifference>& differences) {
    std::string text;
    for (const PartDifference& difference : differences) {
        text += field("differs", difference_text(difference));
    }
    return text;
}

std::string unsealed_text(const std::vector<std::string_view>& unsealed) {
    if (unsealed.empty()) {
        return "verified";
    }
    std::string text = "NOT VERIFIED: ";
    for (std::size_t i = 0; i < unsealed.size(); ++i) {
        text += (i == 0 ? "" : ", ") + std::string(unsealed[i]);
    }
    return text + (unsealed.size() == 1 ? " differs" : " differ");
}

} // namespace

Json differences_json(const std::vector<PartDifference>& differences) {
    Json list = Json::array();
    for (const PartDifference& difference : differences) {
        list.push_back({{"part", difference.part}, {"offset", difference.offset}});
    }
    return list;
}

std::string difference_text(const PartDifference& difference) {
    return difference.part + ", first at " + hex_offset(difference.offset);
}

void print_json(const Json& report) {
    print_text(json_document(report));
}

void diagnose(std::string_view what, std::string_view path, std::string_view reason) {
    print_diagnostic(std::string(what) + " " + std::string(path) + ": " + std::string(reason));
}

void report_unreadable_image(Transcript& out, std::string_view path, const platform::Error& error) {
    report_tool_lines(out, unreadable_image_lines(path, error));
}

void report_tool_lines(Transcript& out, const ToolLines& lines) {
    out.text(lines.printed);
    if (!lines.diagnostic.empty()) {
        print_diagnostic(lines.diagnostic);
    }
}

int finish_failed(const Transcript& out, bool json, std::string_view kind, int status) {
    if (json) {
        print_json(failure_document(kind, status, out.printed()));
    }
    return status;
}

std::string image_line_text(std::string_view path, std::uint64_t length) {
    return c_quoted(path) + ", " + count_of(length, "byte");
}

std::string count_of(std::uint64_t count, std::string_view noun) {
    return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

std::string field(std::string_view label, std::string_view value) {
    std::string line(label);
    line.resize(std::max<std::size_t>(line.size(), kLabelWidth), ' ');
    return line + ": " + std::string(value) + "\n";
}

std::string blob_type_name(std::uint32_t type) {
    const std::string_view name = layout::blob_name(type);
    return name.empty() ? std::to_string(type) : std::string(name);
}

ChunkedOutput::ChunkedOutput() {
    pending_.reserve(kOutputChunk * 2);
}

ChunkedOutput::~ChunkedOutput() {
    flush();
}

void ChunkedOutput::maybe_flush() {
    if (pending_.size() >= kOutputChunk) {
        flush();
    }
}

void ChunkedOutput::flush() {
    print_text(pending_);
    pending_.clear();
}

std::string expect_report_text(const ExpectReport& report) {
    std::string text = field("fwb image", image_line_text(report.image, report.imageLength));
    text += field("device", key_text(report.device));
    text += field("update data", c_quoted(report.updateData));
    if (report.entry) {
        text += field("entry", "mac " + blob_length_text(report.macBytes) + ", phy " +
                                   blob_length_text(report.phyBytes) + ", exprom " +
                                   std::to_string(report.entry->exprom) + ", image " +
                                   c_quoted(report.entry->imageName));
    }
    if (report.base) {
        text += field("base image", image_line_text(*report.base, report.baseLength) +
                                        (report.baseGiven ? " (given with --base)" : ""));
    }
    if (!report.refusal.empty()) {
        text += field("refused", report.refusal);
    }
    text += differences_text(report.differences);
    if (report.baseUnsealed) {
        text += field("base chain", unsealed_text(*report.baseUnsealed));
    }
    return text + field("verdict", report.asExpected() ? "as expected" : "NOT AS EXPECTED");
}

Json expect_report_json(const ExpectReport& report) {
    Json json = document_head("expect");
    json["status"] = report.asExpected() ? PROVKIT_OK : PROVKIT_ERR_DATA;
    json["as_expected"] = report.asExpected();
    json["image"] = {{"path", report.image}, {"length", report.imageLength}};
    json["device"] = identifiers_json(report.device);
    json["update_data"] = {{"path", report.updateData}};
    json["entry"] = nullptr;
    if (report.entry) {
        json["entry"] = {{"image_name", report.entry->imageName},
                         {"mac_length", length_json(report.macBytes)},
                         {"phy_length", length_json(report.phyBytes)},
                         {"exprom", report.entry->exprom}};
    }
    json["base"] = nullptr;
    if (report.base) {
        Json& base = json["base"] = {{"path", *report.base},
                                     {"given", report.baseGiven},
                                     {"length", report.baseLength},
                                     {"verified", nullptr},
                                     {"unsealed", Json::array()}};
        if (report.baseUnsealed) {
            base["verified"] = report.baseUnsealed->empty();
            for (const std::string_view digest : *report.baseUnsealed) {
                base["unsealed"].push_back(digest);
            }
        }
    }
    json["refusal"] = report.refusal.empty() ? Json(nullptr) : Json(report.refusal);
    json["differences"] = differences_json(report.differences);
    return json;
}

std::string diff_report_text(const DiffReport& report) {
    std::string text = field("fwb image A", image_line_text(report.a, report.comparison.lengthA));
    text += field("fwb image B", image_line_text(report.b, report.comparison.lengthB));
    text += differences_text(report.comparison.differences);
    return text +
           field("verdict", report.comparison.differences.empty() ? "identical" : "DIFFERENT");
}

Json diff_report_json(const DiffReport& report) {
    const bool identical = report.comparison.differences.empty();
    Json json = document_head("diff");
    json["status"] = identical ? PROVKIT_OK : PROVKIT_ERR_DATA;
    json["identical"] = identical;
    json["a"] = {{"path", report.a}, {"length", report.comparison.lengthA}};
    json["b"] = {{"path", report.b}, {"length", report.comparison.lengthB}};
    json["differences"] = differences_json(report.comparison.differences);
    return json;
}
