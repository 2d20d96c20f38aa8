#include "app/reports.h"

#include "app/json_text.h"
#include "app/output.h"
#include "common/hex.h"
#include "image/layout.h"

#include <array>
#include <charconv>
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

void write_hex16(std::span<char> text, std::size_t at, std::uint16_t value) {
    static constexpr std::string_view kDigits = "0123456789abcdef";
    for (std::size_t i = 0; i < 4; ++i) {
        text[at + i] = kDigits[(value >> (12 - 4 * i)) & 0xf];
    }
}

void append_number(std::string& text, std::uint64_t value) {
    std::array<char, 24> digits{};
    const auto end = std::to_chars(digits.begin(), digits.end(), value).ptr;
    text.append(digits.data(), end);
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

// The bounded fields of one report line, gathered in place before they join
// the output: a device's line costs a few appends rather than one a field.
class LineBuffer {
  public:
    void put(std::string_view text) {
        std::copy(text.begin(), text.end(), chars_.begin() + static_cast<std::ptrdiff_t>(size_));
        size_ += text.size();
    }
    void put_number(std::uint64_t value) {
        const char* end =
            std::to_chars(chars_.data() + size_, chars_.data() + chars_.size(), value).ptr;
        size_ = static_cast<std::size_t>(end - chars_.data());
    }
    void put_hex16(std::uint16_t value) {
        write_hex16(chars_, size_, value);
        size_ += 4;
    }
    // Over four placeholder characters already put.
    void put_hex16_at(std::size_t at, std::uint16_t value) { write_hex16(chars_, at, value); }
    std::string_view text() const { return {chars_.data(), size_}; }

    // A text of any length: in place when it fits beside the bounded fields,
    // else after what is gathered, straight into the output.
    void put_unbounded(std::string_view text, std::string& output) {
        if (text.size() <= kUnboundedInPlace) {
            put(text);
            return;
        }
        output.append(this->text());
        output.append(text);
        size_ = 0;
    }

  private:
    static constexpr std::size_t kBounded = 512; // more than the bounded fields of any line
    static constexpr std::size_t kUnboundedInPlace = 512;

    std::array<char, kBounded + kUnboundedInPlace> chars_;
    std::size_t size_ = 0;
};

void put_blob_length(LineBuffer& line, std::optional<std::uint16_t> length) {
    if (!length) {
        line.put("invalid");
        return;
    }
    line.put_number(*length);
    line.put(*length == 1 ? " byte" : " bytes");
}

// A device's line begins so; the digits are put in place.
constexpr std::string_view kDeviceLineStart = "device vid=hhhh did=hhhh svid=hhhh ssid=hhhh: line";
constexpr std::size_t kVidInLine = kDeviceLineStart.find("hhhh");
constexpr std::size_t kDidInLine = kDeviceLineStart.find("hhhh", kVidInLine + 4);
constexpr std::size_t kSvidInLine = kDeviceLineStart.find("hhhh", kDidInLine + 4);
constexpr std::size_t kSsidInLine = kDeviceLineStart.find("hhhh", kSvidInLine + 4);

void append_device_line(std::string& text, const ListedDevice& device, RenderedTexts& names) {
    LineBuffer line;
    line.put(kDeviceLineStart);
    line.put_hex16_at(kVidInLine, device.id.vid);
    line.put_hex16_at(kDidInLine, device.id.did);
    line.put_hex16_at(kSvidInLine, device.id.svid);
    line.put_hex16_at(kSsidInLine, device.id.ssid);
    if (device.imageLine != 0) {
        line.put("s ");
        line.put_number(device.keyLine);
        line.put(" to ");
        line.put_number(device.imageLine);
    } else {
        line.put(" ");
        line.put_number(device.keyLine);
        line.put(" to the end");
    }
    line.put(", mac ");
    put_blob_length(line, device.macBytes);
    line.put(", phy ");
    put_blob_length(line, device.phyBytes);
    line.put(", exprom ");
    line.put_number(device.exprom);
    line.put(", image ");
    line.put_unbounded(names.of(device.imageName), text);
    line.put("\n");
    text.append(line.text());
}

// As nlohmann's dump with an indent of 2 writes it (keys in order), nested in
// the report's "devices" array.
void put_json_number(LineBuffer& line, std::optional<std::uint64_t> value) {
    if (value) {
        line.put_number(*value);
    } else {
        line.put("null");
    }
}

// A device's JSON object begins and ends so; the digits are put in place.
constexpr std::string_view kDeviceJsonStart = "    {\n      \"did\": \"hhhh\",\n      \"exprom\": ";
constexpr std::size_t kDidInJsonStart = kDeviceJsonStart.find("hhhh");
constexpr std::string_view kDeviceJsonEnd =
    ",\n      \"ssid\": \"hhhh\",\n      \"svid\": \"hhhh\","
    "\n      \"vid\": \"hhhh\"\n    }";
constexpr std::size_t kSsidInJsonEnd = kDeviceJsonEnd.find("hhhh");
constexpr std::size_t kSvidInJsonEnd = kDeviceJsonEnd.find("hhhh", kSsidInJsonEnd + 4);
constexpr std::size_t kVidInJsonEnd = kDeviceJsonEnd.find("hhhh", kSvidInJsonEnd + 4);

void append_device_json(std::string& text, const ListedDevice& device, RenderedTexts& names) {
    LineBuffer record;
    record.put(kDeviceJsonStart);
    record.put_hex16_at(kDidInJsonStart, device.id.did);
    record.put_number(device.exprom);
    record.put(",\n      \"image\": ");
    record.put_unbounded(names.of(device.imageName), text);
    record.put(",\n      \"imageLine\": ");
    put_json_number(record, device.imageLine != 0 ? std::optional<std::uint64_t>(device.imageLine)
                                                  : std::nullopt);
    record.put(",\n      \"keyLine\": ");
    record.put_number(device.keyLine);
    record.put(",\n      \"macBytes\": ");
    put_json_number(record, device.macBytes);
    record.put(",\n      \"phyBytes\": ");
    put_json_number(record, device.phyBytes);
    const std::size_t endAt = record.text().size();
    record.put(kDeviceJsonEnd);
    record.put_hex16_at(endAt + kSsidInJsonEnd, device.id.ssid);
    record.put_hex16_at(endAt + kSvidInJsonEnd, device.id.svid);
    record.put_hex16_at(endAt + kVidInJsonEnd, device.id.vid);
    text.append(record.text());
}

void append_finding_json(std::string& text, const Finding& finding, RenderedTexts& messages) {
    text += "    {\n      \"line\": ";
    append_number(text, finding.line);
    text += ",\n      \"message\": ";
    text += messages.of(finding.message);
    text += "\n    }";
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

const std::string& RenderedTexts::of(std::string_view held) {
    // Devices mostly name the image the one before named.
    if (last_ != nullptr && last_->first == held.data()) {
        return last_->second;
    }
    auto [rendered, inserted] = rendered_.try_emplace(held.data());
    if (inserted) {
        rendered->second = render_(held);
    }
    last_ = &*rendered;
    return rendered->second;
}

UpdateDataReport::UpdateDataReport(std::string_view path, bool json)
    : path_(path), json_(json), names_(json ? json_quoted : c_quoted) {}

void UpdateDataReport::list(const ListedDevice& device) {
    std::string& text = output_.text();
    if (!json_) {
        append_device_line(text, device, names_);
    } else {
        text += devicesListed_ == 0 ? "{\n  \"devices\": [\n" : ",\n";
        append_device_json(text, device, names_);
    }
    ++devicesListed_;
    output_.maybe_flush();
}

void UpdateDataReport::finish(const UpdateDataCheck& check) {
    std::string& text = output_.text();
    if (!json_) {
        for (const Finding& finding : check.findings) {
            text += "line ";
            append_number(text, finding.line);
            text += ": ";
            text += finding.message;
            text += '\n';
            output_.maybe_flush();
        }
        text += count_of(check.devices.size(), "device") + ", " +
                count_of(check.findings.size(), "problem") + "\n";
        return;
    }
    text += devicesListed_ == 0 ? "{\n  \"devices\": []" : "\n  ]";
    text += ",\n  \"file\": " + json_quoted(path_) + ",\n";
    RenderedTexts messages(json_quoted);
    text += check.findings.empty() ? "  \"findings\": []" : "  \"findings\": [\n";
    for (std::size_t i = 0; i < check.findings.size(); ++i) {
        append_finding_json(text, check.findings[i], messages);
        text += i + 1 < check.findings.size() ? ",\n" : "\n  ]";
        output_.maybe_flush();
    }
    text += check.findings.empty() ? ",\n  \"ok\": true\n}\n" : ",\n  \"ok\": false\n}\n";
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
