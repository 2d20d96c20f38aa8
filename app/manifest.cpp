#include "app/manifest.h"

#include "app/json_document.h"
#include "common/hex.h"

namespace {

constexpr std::size_t kPiece = 64 * 1024;

void append_lines_array(std::string& text, const std::vector<std::string>& lines,
                        std::string_view indent) {
    if (lines.empty()) {
        text += "[]";
        return;
    }
    text += "[\n";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        text += indent;
        text += "  ";
        text += json_quoted(lines[i]);
        text += i + 1 < lines.size() ? ",\n" : "\n";
    }
    text += indent;
    text += "]";
}

void append_field(std::string& text, std::string_view key, std::string_view value) {
    text += ",\n      \"";
    text += key;
    text += "\": ";
    text += value;
}

} // namespace

void Manifest::add(const RunFacts& facts, std::string_view imageName) {
    ManifestDevice& device = devices_.emplace_back();
    device.id = *facts.id;
    device.status = facts.status;
    device.imageName = imageName;
    if (facts.status != PROVKIT_OK) {
        const auto [known, isNew] =
            failureIndex_.try_emplace(facts.printed, static_cast<std::uint32_t>(failures_.size()));
        if (isNew) {
            failures_.push_back(printed_lines(facts.printed));
        }
        device.failure = known->second;
        return;
    }
    device.length = facts.outputLength.value_or(0);
    device.sha256 = facts.outputDigest.value_or(DigestValue{});
    if (baseDigests_.empty() || baseDigests_.back() != facts.baseDigest) {
        baseDigests_.push_back(facts.baseDigest);
    }
    device.baseDigest = static_cast<std::uint32_t>(baseDigests_.size() - 1);
    device.macLength = facts.macLength.value_or(0);
    device.phyLength = facts.phyLength.value_or(0);
    device.exprom = facts.exprom.value_or(0);
}

bool Manifest::write(const Json& head, const Sink& sink) const {
    // The head's members, then "devices": as nlohmann prints them.
    std::string text = json_opening(head, "devices");
    text += devices_.empty() ? "]\n}\n" : "\n";
    std::string lastName;
    std::string lastNameQuoted;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        const ManifestDevice& device = devices_[i];
        if (device.imageName != lastName || i == 0) {
            lastName = device.imageName;
            lastNameQuoted = json_quoted(device.imageName);
        }
        text += "    {\n      \"vid\": \"" + hex16(device.id.vid) + "\",\n      \"did\": \"" +
                hex16(device.id.did) + "\",\n      \"svid\": \"" + hex16(device.id.svid) +
                "\",\n      \"ssid\": \"" + hex16(device.id.ssid) + "\"";
        append_field(text, "image_name", lastNameQuoted);
        append_field(text, "status", std::to_string(device.status));
        if (device.status != PROVKIT_OK) {
            text += ",\n      \"messages\": ";
            append_lines_array(text, failures_[device.failure], "      ");
        } else {
            const std::optional<DigestValue>& base = baseDigests_[device.baseDigest];
            append_field(text, "file", "\"" + image_file_name(device.id) + "\"");
            append_field(text, "length", std::to_string(device.length));
            append_field(text, "sha256", "\"" + to_hex(device.sha256) + "\"");
            append_field(text, "base_sha256", base ? "\"" + to_hex(*base) + "\"" : "null");
            append_field(text, "mac_length", std::to_string(device.macLength));
            append_field(text, "phy_length", std::to_string(device.phyLength));
            append_field(text, "exprom", std::to_string(device.exprom));
        }
        text += i + 1 < devices_.size() ? "\n    },\n" : "\n    }\n  ]\n}\n";
        if (text.size() >= kPiece) {
            if (!sink(text)) {
                return false;
            }
            text.clear();
        }
    }
    return sink(text);
}
