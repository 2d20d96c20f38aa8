#include "app/reports.h"

#include "app/json_text.h"
#include "app/output.h"
#include "common/hex.h"
#include "image/layout.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>

using nlohmann::json;

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

json key_json(DeviceId id) {
    return {{"vid", hex16(id.vid)},
            {"did", hex16(id.did)},
            {"svid", hex16(id.svid)},
            {"ssid", hex16(id.ssid)}};
}

std::string blob_length_text(std::optional<std::uint16_t> length) {
    return length ? count_of(*length, "byte") : "invalid";
}

json length_json(std::optional<std::uint16_t> length) {
    return length ? json(*length) : json(nullptr);
}

std::string differences_text(const std::vector<PartDifference>& differences) {
    std::string text;
    for (const PartDifference& difference : differences) {
        text += field("differs", difference.part + ", first at " + hex_offset(difference.offset));
    }
    return text;
}

json differences_json(const std::vector<PartDifference>& differences) {
    json list = json::array();
    for (const PartDifference& difference : differences) {
        list.push_back({{"part", difference.part}, {"offset", difference.offset}});
    }
    return list;
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

void print_json(const json& report) {
    print_text(json_document(report));
}

void diagnose(std::string_view what, std::string_view path, std::string_view reason) {
    print_diagnostic(std::string(what) + " " + std::string(path) + ": " + std::string(reason));
}

void report_unreadable_image(std::string_view path, const platform::Error& error) {
    print_line("Unable to read fwb ", path);
    diagnose("cannot read", path, error.failed() ? error.reason() : "not a regular file");
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

std::string c_quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte >= 0x7f) {
            std::array<char, 8> escaped{};
            std::snprintf(escaped.data(), escaped.size(), "\\x%02x", unsigned{byte});
            out += escaped.data();
        } else {
            out += c;
        }
    }
    return out + "\"";
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

json expect_report_json(const ExpectReport& report) {
    json entry = nullptr;
    if (report.entry) {
        entry = {{"macBytes", length_json(report.macBytes)},
                 {"phyBytes", length_json(report.phyBytes)},
                 {"exprom", report.entry->exprom},
                 {"image", report.entry->imageName}};
    }
    json base = nullptr;
    if (report.base) {
        base = {{"image", *report.base},
                {"length", report.baseLength},
                {"given", report.baseGiven},
                {"verified", nullptr},
                {"unsealed", json::array()}};
        if (report.baseUnsealed) {
            base["verified"] = report.baseUnsealed->empty();
            for (const std::string_view digest : *report.baseUnsealed) {
                base["unsealed"].push_back(digest);
            }
        }
    }
    return {{"image", report.image},
            {"length", report.imageLength},
            {"device", key_json(report.device)},
            {"updateData", report.updateData},
            {"entry", entry},
            {"base", base},
            {"refused", report.refusal.empty() ? json(nullptr) : json(report.refusal)},
            {"differences", differences_json(report.differences)},
            {"asExpected", report.asExpected()}};
}

std::string diff_report_text(const DiffReport& report) {
    std::string text = field("fwb image A", image_line_text(report.a, report.comparison.lengthA));
    text += field("fwb image B", image_line_text(report.b, report.comparison.lengthB));
    text += differences_text(report.comparison.differences);
    return text +
           field("verdict", report.comparison.differences.empty() ? "identical" : "DIFFERENT");
}

json diff_report_json(const DiffReport& report) {
    return {{"a", {{"image", report.a}, {"length", report.comparison.lengthA}}},
            {"b", {{"image", report.b}, {"length", report.comparison.lengthB}}},
            {"differences", differences_json(report.comparison.differences)},
            {"identical", report.comparison.differences.empty()}};
}
