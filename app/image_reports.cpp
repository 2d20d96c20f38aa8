#include "app/image_reports.h"

#include "app/json_text.h"
#include "common/hex.h"
#include "image/layout.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <vector>

namespace {

// What a placeholder begins with as nlohmann writes it: no path or name holds a NUL.
constexpr std::string_view kPlaceholderStart = "\"\\u0000blob ";
constexpr std::string_view kPlaceholderText = std::string_view("\0blob ", 6);

std::string hex32(std::uint32_t value) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "0x%08x", value);
    return text.data();
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

std::string entry_text(const EntryInspection& entry) {
    return field(
        "entry " + std::to_string(entry.index),
        blob_type_name(entry.type) + ", " + count_of(entry.length, "byte") + ", digest " +
            (entry.inRegion ? verdict(entry.digest) : "MISMATCH (blob outside the region)"));
}

Json digest_json(const DigestCheck& check) {
    return {{"stored", check.inFile ? Json(to_hex(check.stored)) : Json(nullptr)},
            {"computed", check.inFile ? Json(to_hex(check.computed)) : Json(nullptr)},
            {"ok", check.holds()}};
}

// A blob's unpadded bytes in hex, a block at a time.
bool print_blob_hex(ChunkedOutput& out, ImageBytes& source, const EntryInspection& entry) {
    bool complete = false;
    const platform::Error error = source.read_blocks(
        entry.blobOffset, entry.length,
        [&](std::span<const std::uint8_t> block) {
            out.text() += to_hex(block);
            out.maybe_flush();
            return true;
        },
        complete);
    return !error.failed() && complete;
}

} // namespace

bool print_image_report_text(ChunkedOutput& out, const InspectedImage& image) {
    const ImageInspection& inspection = *image.inspection;
    std::string& text = out.text();
    text += field("fwb image", image_line_text(image.path, inspection.fileLength));
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
        out.text() += entry_text(entry);
        if (image.blobs != nullptr && entry.inRegion) {
            std::string label = field("  blob", "");
            label.pop_back(); // the line feed follows the hex
            out.text() += label;
            if (!print_blob_hex(out, *image.blobs, entry)) {
                return false;
            }
            out.text() += "\n";
        }
    }
    out.text() += field("verdict", inspection.verified() ? "verified" : "NOT VERIFIED");
    out.maybe_flush();
    return true;
}

Json image_report_json(const InspectedImage& image, std::size_t index) {
    const ImageInspection& inspection = *image.inspection;
    Json entries = Json::array();
    for (std::size_t i = 0; i < inspection.entries.size(); ++i) {
        const EntryInspection& entry = inspection.entries[i];
        Json object = {{"index", entry.index},        {"type", blob_type_name(entry.type)},
                       {"type_code", entry.type},     {"length", entry.length},
                       {"in_region", entry.inRegion}, {"digest", digest_json(entry.digest)}};
        if (image.blobs != nullptr) {
            object["blob"] = entry.inRegion ? Json(std::string(kPlaceholderText) +
                                                   std::to_string(index) + " " + std::to_string(i))
                                            : Json(nullptr);
        }
        entries.push_back(std::move(object));
    }
    return {{"path", image.path},
            {"readable", true},
            {"length", inspection.fileLength},
            {"header_complete", inspection.headerComplete},
            {"bdp_offset", inspection.placement.bdpOffset},
            {"bdp_size", inspection.placement.bdpSize},
            {"region_valid", inspection.regionValid},
            {"exprom",
             {{"descriptor", to_hex(inspection.expromDescriptor)},
              {"cleared", inspection.expromCleared()}}},
            {"digests",
             {{"header", digest_json(inspection.headerDigest)},
              {"second_area", digest_json(inspection.secondAreaDigest)},
              {"table", digest_json(inspection.tableDigest)}}},
            {"entries", entries},
            {"verified", inspection.verified()}};
}

bool print_json_with_blobs(ChunkedOutput& out, const Json& report,
                           std::span<const InspectedImage> images) {
    const std::string text = json_document(report);
    std::size_t from = 0;
    for (std::size_t at = text.find(kPlaceholderStart); at != std::string::npos;
         at = text.find(kPlaceholderStart, from)) {
        out.text().append(text, from, at - from + 1); // up to the opening quote
        std::size_t image = 0;
        std::size_t entry = 0;
        const char* numbers = text.data() + at + kPlaceholderStart.size();
        const char* end = text.data() + text.size();
        const auto [afterImage, imageError] = std::from_chars(numbers, end, image);
        const auto [afterEntry, entryError] = std::from_chars(afterImage + 1, end, entry);
        const InspectedImage& inspected = images[image];
        if (!print_blob_hex(out, *inspected.blobs, inspected.inspection->entries[entry])) {
            return false;
        }
        from = static_cast<std::size_t>(afterEntry - text.data());
    }
    out.text().append(text, from);
    out.flush();
    return true;
}
