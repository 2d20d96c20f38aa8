#include "app/reports.h"

#include "common/hex.h"
#include "image/layout.h"

#include <array>
#include <cstdio>
#include <optional>

using nlohmann::json;

namespace {

constexpr int kLabelWidth = 19;

std::string field(std::string_view label, std::string_view value) {
    std::string line(label);
    line.resize(std::max<std::size_t>(line.size(), kLabelWidth), ' ');
    return line + ": " + std::string(value) + "\n";
}

std::string hex32(std::uint32_t value) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "0x%08x", value);
    return text.data();
}

std::string hex16(std::uint16_t value) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "%04x", unsigned{value});
    return text.data();
}

// A text as C would write it, so a line feed or a NUL in a name can be seen.
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
    if (type == layout::kBlobTypePhy) {
        return "PHY";
    }
    if (type == layout::kBlobTypeMac) {
        return "MAC";
    }
    return std::to_string(type);
}

std::string verdict(const DigestCheck& check) {
    return check.holds() ? "ok" : check.inFile ? "MISMATCH" : "MISMATCH (past the end of the file)";
}

std::string region_verdict(const ImageInspection& inspection) {
    const BdpPlacement& placement = inspection.placement;
    if (!inspection.headerComplete) {
        return "INVALID: the file is shorter than its header";
    }
    if (placement.bdpOffset < layout::kHeaderSize) {
        return "INVALID: starts inside the header";
    }
    if (std::uint64_t{placement.bdpOffset} + placement.bdpSize > inspection.fileLength) {
        return "INVALID: ends past the end of the file";
    }
    if (placement.bdpSize < layout::kBdpTableSize) {
        return "INVALID: smaller than the 288-byte table";
    }
    return "ok, after the header and inside the file";
}

std::string digest_text(std::string_view label, const DigestCheck& check) {
    std::string text = field(label, verdict(check));
    if (check.inFile) {
        text += field("  stored", to_hex(check.stored));
        text += field("  recomputed", to_hex(check.computed));
    }
    return text;
}

std::string entry_text(const EntryInspection& entry, bool blobs) {
    std::string text =
        field("entry " + std::to_string(entry.index),
              blob_type_name(entry.type) + ", " + std::to_string(entry.length) + " bytes, digest " +
                  (entry.inRegion ? verdict(entry.digest) : "MISMATCH (blob outside the region)"));
    if (blobs && entry.inRegion) {
        text += field("  blob", to_hex(entry.blob));
    }
    return text;
}

json digest_json(const DigestCheck& check) {
    return {{"stored", check.inFile ? json(to_hex(check.stored)) : json(nullptr)},
            {"computed", check.inFile ? json(to_hex(check.computed)) : json(nullptr)},
            {"ok", check.holds()}};
}

json entry_json(const EntryInspection& entry, bool blobs) {
    json object = {{"index", entry.index},       {"type", blob_type_name(entry.type)},
                   {"typeCode", entry.type},     {"length", entry.length},
                   {"inRegion", entry.inRegion}, {"digest", digest_json(entry.digest)}};
    if (blobs) {
        object["blob"] = entry.inRegion ? json(to_hex(entry.blob)) : json(nullptr);
    }
    return object;
}

std::string key_text(DeviceId id) {
    return "vid=" + hex16(id.vid) + " did=" + hex16(id.did) + " svid=" + hex16(id.svid) +
           " ssid=" + hex16(id.ssid);
}

std::string blob_length_text(std::optional<std::size_t> length) {
    return length ? std::to_string(*length) + " bytes" : "invalid";
}

} // namespace

std::string image_report_text(std::string_view path, const ImageInspection& inspection,
                              bool blobs) {
    std::string text = field("fwb image", c_quoted(path) + ", " +
                                              std::to_string(inspection.fileLength) + " bytes");
    text += field("bdpOffset", hex32(inspection.placement.bdpOffset));
    text += field("bdpSize", hex32(inspection.placement.bdpSize));
    text += field("BDP region", region_verdict(inspection));
    text += field("exprom descriptor",
                  to_hex(inspection.expromDescriptor) +
                      (inspection.expromCleared() ? " (cleared)" : " (not cleared)"));
    text += digest_text("header digest", inspection.headerDigest);
    text += digest_text("second-area digest", inspection.secondAreaDigest);
    text += digest_text("table digest", inspection.tableDigest);
    for (const EntryInspection& entry : inspection.entries) {
        text += entry_text(entry, blobs);
    }
    return text + field("verdict", inspection.verified() ? "verified" : "NOT VERIFIED");
}

json image_report_json(std::string_view path, const ImageInspection& inspection, bool blobs) {
    json entries = json::array();
    for (const EntryInspection& entry : inspection.entries) {
        entries.push_back(entry_json(entry, blobs));
    }
    return {{"image", path},
            {"length", inspection.fileLength},
            {"headerComplete", inspection.headerComplete},
            {"bdpOffset", inspection.placement.bdpOffset},
            {"bdpSize", inspection.placement.bdpSize},
            {"regionValid", inspection.regionValid},
            {"exprom",
             {{"descriptor", to_hex(inspection.expromDescriptor)},
              {"cleared", inspection.expromCleared()}}},
            {"digests",
             {{"header", digest_json(inspection.headerDigest)},
              {"secondArea", digest_json(inspection.secondAreaDigest)},
              {"table", digest_json(inspection.tableDigest)}}},
            {"entries", entries},
            {"verified", inspection.verified()}};
}

std::string update_data_report_text(const UpdateDataCheck& check) {
    std::string text;
    for (const ListedDevice& device : check.devices) {
        const std::string lines = device.imageLine != 0
                                      ? "lines " + std::to_string(device.keyLine) + " to " +
                                            std::to_string(device.imageLine)
                                      : "line " + std::to_string(device.keyLine) + " to the end";
        text += "device " + key_text(device.id) + ": " + lines + ", mac " +
                blob_length_text(device.macBytes) + ", phy " + blob_length_text(device.phyBytes) +
                ", exprom " + std::to_string(device.values.exprom) + ", image " +
                c_quoted(device.values.imageName) + "\n";
    }
    for (const Finding& finding : check.findings) {
        text += "line " + std::to_string(finding.line) + ": " + finding.message + "\n";
    }
    return text + std::to_string(check.devices.size()) + " devices, " +
           std::to_string(check.findings.size()) + " problems\n";
}

json update_data_report_json(std::string_view path, const UpdateDataCheck& check) {
    json devices = json::array();
    for (const ListedDevice& device : check.devices) {
        const auto length_json = [](std::optional<std::size_t> length) {
            return length ? json(*length) : json(nullptr);
        };
        devices.push_back(
            {{"vid", hex16(device.id.vid)},
             {"did", hex16(device.id.did)},
             {"svid", hex16(device.id.svid)},
             {"ssid", hex16(device.id.ssid)},
             {"keyLine", device.keyLine},
             {"imageLine", device.imageLine == 0 ? json(nullptr) : json(device.imageLine)},
             {"macBytes", length_json(device.macBytes)},
             {"phyBytes", length_json(device.phyBytes)},
             {"exprom", device.values.exprom},
             {"image", device.values.imageName}});
    }
    json findings = json::array();
    for (const Finding& finding : check.findings) {
        findings.push_back({{"line", finding.line}, {"message", finding.message}});
    }
    return {{"file", path},
            {"devices", devices},
            {"findings", findings},
            {"ok", check.findings.empty()}};
}
