#include "app/update_data_report.h"

#include "app/json_document.h"
#include "common/hex.h"
#include "common/status.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace {

void append_number(std::string& text, std::uint64_t value) {
    std::array<char, 24> digits{};
    const auto end = std::to_chars(digits.begin(), digits.end(), value).ptr;
    text.append(digits.data(), end);
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
        write_hex16(std::span<char, 4>(chars_.data() + size_, 4), value);
        size_ += 4;
    }
    // Over four placeholder characters already put.
    void put_hex16_at(std::size_t at, std::uint16_t value) {
        write_hex16(std::span<char, 4>(chars_.data() + at, 4), value);
    }
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

// As nlohmann's dump with an indent of 2 writes it, nested in the report's
// "devices" array.
void put_json_number(LineBuffer& line, std::optional<std::uint64_t> value) {
    if (value) {
        line.put_number(*value);
    } else {
        line.put("null");
    }
}

// A device's JSON object begins so; the digits are put in place.
constexpr std::string_view kDeviceJsonStart =
    "    {\n      \"vid\": \"hhhh\",\n      \"did\": \"hhhh\",\n      \"svid\": \"hhhh\",\n"
    "      \"ssid\": \"hhhh\",\n      \"key_line\": ";
constexpr std::size_t kVidInJson = kDeviceJsonStart.find("hhhh");
constexpr std::size_t kDidInJson = kDeviceJsonStart.find("hhhh", kVidInJson + 4);
constexpr std::size_t kSvidInJson = kDeviceJsonStart.find("hhhh", kDidInJson + 4);
constexpr std::size_t kSsidInJson = kDeviceJsonStart.find("hhhh", kSvidInJson + 4);

void append_device_json(std::string& text, const ListedDevice& device, RenderedTexts& names) {
    LineBuffer record;
    record.put(kDeviceJsonStart);
    record.put_hex16_at(kVidInJson, device.id.vid);
    record.put_hex16_at(kDidInJson, device.id.did);
    record.put_hex16_at(kSvidInJson, device.id.svid);
    record.put_hex16_at(kSsidInJson, device.id.ssid);
    record.put_number(device.keyLine);
    record.put(",\n      \"image_line\": ");
    put_json_number(record, device.imageLine != 0 ? std::optional<std::uint64_t>(device.imageLine)
                                                  : std::nullopt);
    record.put(",\n      \"mac_length\": ");
    put_json_number(record, device.macBytes);
    record.put(",\n      \"phy_length\": ");
    put_json_number(record, device.phyBytes);
    record.put(",\n      \"exprom\": ");
    record.put_number(device.exprom);
    record.put(",\n      \"image_name\": ");
    record.put_unbounded(names.of(device.imageName), text);
    record.put("\n    }");
    text.append(record.text());
}

// The document's opening members, as nlohmann writes them, up to the devices.
std::string report_opening(std::string_view path) {
    Json head = document_head("update_data");
    head["update_data"] = {{"path", path}};
    return json_opening(head, "devices");
}

void append_finding_json(std::string& text, const Finding& finding, RenderedTexts& messages) {
    text += "    {\n      \"line\": ";
    append_number(text, finding.line);
    text += ",\n      \"message\": ";
    text += messages.of(finding.message);
    text += "\n    }";
}

} // namespace

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
    : path_(path), json_(json), names_(json ? json_quoted : c_quoted) {
    if (json_) {
        output_.text() = report_opening(path_);
    }
}

void UpdateDataReport::list(const ListedDevice& device) {
    std::string& text = output_.text();
    if (!json_) {
        append_device_line(text, device, names_);
    } else {
        text += devicesListed_ == 0 ? "\n" : ",\n";
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
        text += count_of(devicesListed_, "device") + ", " +
                count_of(check.findings.size(), "problem") + "\n";
        return;
    }
    text += devicesListed_ == 0 ? "]" : "\n  ]";
    RenderedTexts messages(json_quoted);
    text += check.findings.empty() ? ",\n  \"findings\": []" : ",\n  \"findings\": [\n";
    for (std::size_t i = 0; i < check.findings.size(); ++i) {
        append_finding_json(text, check.findings[i], messages);
        text += i + 1 < check.findings.size() ? ",\n" : "\n  ]";
        output_.maybe_flush();
    }
    const bool ok = check.findings.empty();
    text += ",\n  \"status\": " + std::to_string(ok ? PROVKIT_OK : PROVKIT_ERR_DATA) +
            ",\n  \"ok\": " + (ok ? "true" : "false") + "\n}\n";
}

void UpdateDataReport::fail(int status, std::string_view printed) {
    if (!json_) {
        output_.flush();
        print_text(printed);
        return;
    }
    std::string& text = output_.text();
    text += devicesListed_ == 0 ? "]" : "\n  ]";
    Json tail;
    tail["findings"] = Json::array();
    tail["status"] = status;
    tail["messages"] = printed_lines(printed);
    tail["ok"] = false;
    text += json_closing(tail);
    output_.flush();
}
