#include "app/inspect_modes.h"

#include "app/image_reports.h"
#include "app/reports.h"
#include "common/report.h"
#include "common/status.h"
#include "image/header_sealing.h"
#include "image/image_comparison.h"
#include "image/image_inspection.h"
#include "image/image_reading.h"
#include "platform/platform.h"
#include "provisioning_data/board_data_stage.h"
#include "provisioning_data/device_key.h"
#include "provisioning_data/line_reader.h"
#include "provisioning_data/update_data_check.h"

#include <algorithm>

using nlohmann::json;
using namespace layout;

namespace {

constexpr int kCommandLineStatus = 1;
constexpr std::array<std::string_view, 4> kIdentifierNames = {"VID", "DID", "SVID", "SSID"};

void print_json(const json& report) {
    print_text(report.dump(2, ' ', false, json::error_handler_t::replace) + "\n");
}

std::string reason_of(const platform::Error& error) {
    return error.failed() ? error.reason() : "not a regular file";
}

void diagnose(std::string_view what, std::string_view path, std::string_view reason) {
    print_diagnostic(std::string(what) + " " + std::string(path) + ": " + std::string(reason));
}

void report_unreadable_image(std::string_view path, const platform::Error& error) {
    print_line("Unable to read fwb ", path);
    diagnose("cannot read", path, reason_of(error));
}

// An image opened and inspected, kept open so that its blobs can be read.
struct ReadImage {
    OpenedImage opened;
    std::optional<ImageBytes> source;
    ImageInspection inspection;
};

bool read_image(std::string_view path, ReadImage& image, platform::Error& error) {
    if (!open_image(path, ImageKinds::regular_only, image.opened, error)) {
        return false;
    }
    image.source.emplace(image.opened.file, image.opened.length);
    error = inspect_image(*image.source, image.inspection);
    return !error.failed();
}

// The identifiers as fwbforge2 reads them; its refusal of the first that does
// not fit 16 bits, if one does not.
std::optional<std::string> read_identifiers(const std::array<std::string, 4>& given, DeviceId& id) {
    const std::array<std::uint16_t*, 4> fields = {&id.vid, &id.did, &id.svid, &id.ssid};
    for (std::size_t i = 0; i < given.size(); ++i) {
        const std::optional<std::uint16_t> value = parse_identifier(given[i]);
        if (!value) {
            const std::string name(kIdentifierNames[i]);
            return name + " " + given[i] + " does not fit 16 bits (fwbforge2: Bad " + name + " " +
                   given[i] + ")";
        }
        *fields[i] = *value;
    }
    return std::nullopt;
}

std::optional<std::uint16_t> decoded_length(std::string_view text) {
    if (check_hex_text(text, kBlobCapacity) != PROVKIT_OK) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(text.size() / 2);
}

std::string blob_refusal_text(const BlobRefusal& refusal) {
    const std::string blob = refusal.blobName == kMacBlobName ? "MAC" : "PHY";
    const std::string name(refusal.blobName);
    switch (refusal.status) {
    case PROVKIT_ERR_ODD_HEX:
        return "the " + blob + " text has an odd length (fwbforge2: Odd " + name + ")";
    case PROVKIT_ERR_BAD_HEX:
        return "the " + blob + " text holds a character that is not a hex digit (fwbforge2: Bad " +
               name + ")";
    default:
        return "the " + blob + " text is longer than 1024 bytes (fwbforge2: Long " + name + ")";
    }
}

// The device's board data as fwbforge2 takes it. 0, 67 or 69 (a refusal, in report).
int look_up_board_data(const ExpectRequest& request, ExpectReport& report, BoardData& board) {
    EntryValues values;
    platform::Error error;
    switch (find_device_entry(request.updateData, report.device, values, error)) {
    case EntryLookup::unreadable:
        print_line("Unable to open file! ", request.updateData);
        diagnose("cannot read", request.updateData, error.reason());
        return PROVKIT_ERR_FILE;
    case EntryLookup::line_too_long:
        report.refusal = "a line of the update data is longer than " +
                         std::to_string(kMaxLineLength >> 20) +
                         " MiB, where fwbforge2 stops (Update data line too long)";
        return PROVKIT_ERR_DATA;
    case EntryLookup::not_found:
        report.refusal = "no entry for the device in the update data";
        return PROVKIT_ERR_DATA;
    case EntryLookup::found:
        break;
    }
    report.macBytes = decoded_length(values.macText);
    report.phyBytes = decoded_length(values.phyText);
    report.entry = std::move(values);
    const BlobRefusal refusal = decode_entry(*report.entry, board);
    if (refusal.status != PROVKIT_OK) {
        report.refusal = blob_refusal_text(refusal);
        return PROVKIT_ERR_DATA;
    }
    return PROVKIT_OK;
}

// The base image and its header (a short one padded with zeros, as fwbforge2 reads it).
int open_base(const ExpectRequest& request, ExpectReport& report, OpenedImage& base,
              ImageHeader& header) {
    const std::string path = request.base ? *request.base : report.entry->imageName;
    platform::Error error;
    if (!open_image(path, ImageKinds::regular_only, base, error)) {
        if (error.missing() && !request.base) {
            report.refusal = "the base image " + c_quoted(path) +
                             " does not exist (fwbforge2: Input fwb not present)";
            return PROVKIT_ERR_DATA;
        }
        report_unreadable_image(path, error);
        return PROVKIT_ERR_FILE;
    }
    report.base = path;
    report.baseGiven = request.base.has_value();
    std::vector<std::uint8_t> bytes;
    ImageBytes source(base.file, base.length);
    if (const platform::Error read = source.read(0, kHeaderSize, bytes); read.failed()) {
        report_unreadable_image(path, read);
        return PROVKIT_ERR_FILE;
    }
    std::copy(bytes.begin(), bytes.end(), header.begin());
    report.baseLength = base.length = source.length();
    return PROVKIT_OK;
}

std::string_view region_refusal(RegionFit fit) {
    return fit == RegionFit::too_small
               ? "the base image's BDP region is too small for the board data (fwbforge2: PHY "
                 "and MAC BDP length Check)"
               : "the base image's BDP region starts inside its header or ends past its end "
                 "(fwbforge2: Invalid BDP region in input fwb)";
}

// The base's own chain, as fwbforge2's warning checks it.
int check_base_chain(const OpenedImage& base, const ProvisionedParts& parts,
                     const ImageHeader& baseHeader, ExpectReport& report) {
    std::vector<std::uint8_t> table;
    ImageBytes source(base.file, base.length);
    if (const platform::Error error = source.read(parts.placement.bdpOffset, kBdpTableSize, table);
        error.failed()) {
        report_unreadable_image(*report.base, error);
        return PROVKIT_ERR_FILE;
    }
    if (table.size() == kBdpTableSize) {
        report.baseUnsealed = unsealed_digests(
            baseHeader, std::span<const std::uint8_t, kBdpTableSize>(table.data(), kBdpTableSize));
    }
    return PROVKIT_OK;
}

int compare_with_expected(const OpenedImage& image, const OpenedImage& base,
                          const ProvisionedParts& parts, const ExpectRequest& request,
                          ExpectReport& report) {
    const std::vector<ImagePart> layoutParts = image_parts(parts.header, parts.region.table);
    ImageComparison comparison;
    ReadFailure failure;
    if (!compare_images({&image.file, image.length, nullptr, std::nullopt},
                        {&base.file, base.length, &parts, std::nullopt}, layoutParts, comparison,
                        failure)) {
        report_unreadable_image(failure.inB ? *report.base : request.image, failure.error);
        return PROVKIT_ERR_FILE;
    }
    if (comparison.lengthB < base.length) {
        print_line("Unable to read fwb ", *report.base);
        diagnose("cannot read", *report.base, "it ended before the length it had when opened");
        return PROVKIT_ERR_FILE;
    }
    report.imageLength = comparison.lengthA;
    report.differences = std::move(comparison.differences);
    return PROVKIT_OK;
}

// Everything but the comparison's outcome: 0 to compare, 67, or 69 with the refusal in report.
int expect_parts(const ExpectRequest& request, ExpectReport& report, OpenedImage& base,
                 ImageHeader& baseHeader, ProvisionedParts& parts) {
    BoardData board;
    if (const int looked = look_up_board_data(request, report, board); looked != PROVKIT_OK) {
        return looked;
    }
    if (const int opened = open_base(request, report, base, baseHeader); opened != PROVKIT_OK) {
        return opened;
    }
    if (const RegionFit fit = provision_parts(board, baseHeader, base.length, parts);
        fit != RegionFit::fits) {
        report.refusal = region_refusal(fit);
        return PROVKIT_ERR_DATA;
    }
    return check_base_chain(base, parts, baseHeader, report);
}

std::string entry_file_name(const EntryInspection& entry) {
    const std::string prefix = "entry-" + std::to_string(entry.index) + "-";
    if (entry.type == kBlobTypePhy) {
        return prefix + "phy.bin";
    }
    if (entry.type == kBlobTypeMac) {
        return prefix + "mac.bin";
    }
    return prefix + "type-" + std::to_string(entry.type) + ".bin";
}

// Always "/", which every system takes, so that the names printed are the same everywhere.
std::string joined(std::string_view directory, std::string_view name) {
    std::string path(directory);
    if (!path.ends_with('/')) {
        path += '/';
    }
    return path + std::string(name);
}

bool make_directory_if_needed(std::string_view directory) {
    const platform::Error error = platform::make_directory(directory);
    platform::FileInfo info;
    if (!error.failed() || (error.exists() && !platform::info_of_path(directory, info).failed() &&
                            info.kind == platform::FileKind::directory)) {
        return true;
    }
    print_line("Unable to create directory ", directory);
    diagnose("cannot create directory", directory,
             error.exists() ? "it exists and is no directory" : error.reason());
    return false;
}

constexpr std::size_t kBlobBlock = 64 * 1024;

// The count bytes of source at offset into file, a block at a time.
platform::Error copy_out(ImageBytes& source, std::uint64_t offset, std::uint64_t count,
                         const platform::File& file) {
    std::vector<std::uint8_t> block(kBlobBlock);
    for (std::uint64_t done = 0; done < count;) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(count - done, block.size()));
        std::size_t got = 0;
        if (const platform::Error error =
                source.read(offset + done, std::span(block).first(wanted), got);
            error.failed() || got < wanted) {
            return error.failed() ? error : platform::Error{};
        }
        if (const platform::Error error = platform::write_all(file, std::span(block).first(got));
            error.failed()) {
            return error;
        }
        done += got;
    }
    return {};
}

// A new file holding a blob; a name already taken is left as it is.
bool write_new_file(const std::string& path, ImageBytes& source, const EntryInspection& entry) {
    platform::File file;
    if (const platform::Error error = platform::create_new(path, file); error.failed()) {
        print_text(field("not written",
                         c_quoted(path) +
                             (error.exists() ? ": the name is taken" : ": it cannot be created")));
        diagnose("cannot create", path, error.reason());
        return false;
    }
    platform::Error error = copy_out(source, entry.blobOffset, entry.length, file);
    if (!error.failed()) {
        error = file.close();
    }
    if (error.failed()) {
        (void)platform::remove_file(path);
        print_text(field("not written", c_quoted(path) + ": it cannot be written"));
        diagnose("cannot write", path, error.reason());
        return false;
    }
    return true;
}

// The region its header gives, when it lies after the header and inside the file.
std::optional<BdpPlacement> region_of(const ImageFrame& frame, std::uint64_t length) {
    const BdpPlacement placement = placement_of(frame.header);
    if (!holds_placement(frame.header) || !region_inside_image(placement, length)) {
        return std::nullopt;
    }
    return placement;
}

} // namespace

int inspect_images(const std::vector<std::string>& paths, bool blobs, bool jsonReport) {
    const bool several = paths.size() > 1;
    bool unreadable = false;
    bool unverified = false;
    ChunkedOutput out;
    // Kept open to the end: a JSON report reads the blobs as it is written.
    std::vector<ReadImage> images(paths.size());
    std::vector<InspectedImage> inspected;
    json reports = json::array();
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!jsonReport && i > 0) {
            out.text() += "\n";
        }
        platform::Error error;
        if (!read_image(paths[i], images[i], error)) {
            unreadable = true;
            out.flush();
            if (jsonReport && several) {
                diagnose("cannot read", paths[i], reason_of(error));
                reports.push_back({{"image", paths[i]}, {"readable", false}, {"verified", false}});
            } else {
                report_unreadable_image(paths[i], error);
            }
            continue;
        }
        unverified = unverified || !images[i].inspection.verified();
        const InspectedImage image{paths[i], &images[i].inspection,
                                   blobs ? &*images[i].source : nullptr};
        inspected.push_back(image);
        if (!jsonReport) {
            if (!print_image_report_text(out, image)) {
                out.flush();
                report_unreadable_image(paths[i], {});
                return PROVKIT_ERR_FILE;
            }
            continue;
        }
        json report = image_report_json(image, inspected.size() - 1);
        if (several) {
            report["readable"] = true;
        }
        reports.push_back(std::move(report));
    }
    if (jsonReport && !reports.empty() &&
        !print_json_with_blobs(out, several ? reports : reports.front(), inspected)) {
        return PROVKIT_ERR_FILE;
    }
    return unreadable ? PROVKIT_ERR_FILE : unverified ? PROVKIT_ERR_DATA : PROVKIT_OK;
}

int expect_image(const ExpectRequest& request) {
    ExpectReport report;
    report.image = request.image;
    report.updateData = request.updateData;
    if (const std::optional<std::string> refusal =
            read_identifiers(request.identifiers, report.device)) {
        if (request.json) {
            print_json({{"image", request.image},
                        {"device", nullptr},
                        {"refused", *refusal},
                        {"asExpected", false}});
        } else {
            print_text(field("refused", *refusal));
        }
        return kCommandLineStatus;
    }
    OpenedImage image;
    platform::Error error;
    if (!open_image(request.image, ImageKinds::regular_only, image, error)) {
        report_unreadable_image(request.image, error);
        return PROVKIT_ERR_FILE;
    }
    report.imageLength = image.length;
    OpenedImage base;
    ImageHeader baseHeader{};
    ProvisionedParts parts;
    int status = expect_parts(request, report, base, baseHeader, parts);
    if (status == PROVKIT_OK) {
        status = compare_with_expected(image, base, parts, request, report);
    }
    if (status == PROVKIT_ERR_FILE) {
        return status;
    }
    if (request.json) {
        print_json(expect_report_json(report));
    } else {
        print_text(expect_report_text(report));
    }
    return report.asExpected() ? PROVKIT_OK : PROVKIT_ERR_DATA;
}

int diff_images(std::string_view a, std::string_view b, bool jsonReport) {
    OpenedImage imageA;
    OpenedImage imageB;
    platform::Error error;
    const bool openedA = open_image(a, ImageKinds::regular_only, imageA, error);
    if (!openedA) {
        report_unreadable_image(a, error);
    }
    const bool openedB = open_image(b, ImageKinds::regular_only, imageB, error);
    if (!openedB) {
        report_unreadable_image(b, error);
    }
    if (!openedA || !openedB) {
        return PROVKIT_ERR_FILE;
    }
    ImageBytes sourceA(imageA.file, imageA.length);
    ImageFrame frameA;
    if (error = read_frame(sourceA, frameA); error.failed()) {
        report_unreadable_image(a, error);
        return PROVKIT_ERR_FILE;
    }
    sourceA.shorten_to_current_size();
    ImageHeader header{};
    std::copy(frameA.header.begin(), frameA.header.end(), header.begin());
    std::array<std::uint8_t, kBdpTableSize> table{};
    std::copy(frameA.table.begin(), frameA.table.end(), table.begin());
    DiffReport report{a, b, {}};
    ReadFailure failure;
    ImageBytes sourceB(imageB.file, imageB.length);
    ImageFrame frameB;
    if (error = read_frame(sourceB, frameB); error.failed()) {
        report_unreadable_image(b, error);
        return PROVKIT_ERR_FILE;
    }
    sourceB.shorten_to_current_size();
    if (!compare_images(
            {&imageA.file, sourceA.length(), nullptr, region_of(frameA, sourceA.length())},
            {&imageB.file, sourceB.length(), nullptr, region_of(frameB, sourceB.length())},
            image_parts(header, table), report.comparison, failure)) {
        report_unreadable_image(failure.inB ? b : a, failure.error);
        return PROVKIT_ERR_FILE;
    }
    if (jsonReport) {
        print_json(diff_report_json(report));
    } else {
        print_text(diff_report_text(report));
    }
    return report.comparison.differences.empty() ? PROVKIT_OK : PROVKIT_ERR_DATA;
}

int extract_blobs(std::string_view image, std::string_view directory) {
    ReadImage read;
    platform::Error error;
    if (!read_image(image, read, error)) {
        report_unreadable_image(image, error);
        return PROVKIT_ERR_FILE;
    }
    const ImageInspection& inspection = read.inspection;
    if (!inspection.regionValid) {
        print_text(field("not extracted", "the BDP region does not lie after the header and "
                                          "inside the file, holding its table"));
        return PROVKIT_ERR_DATA;
    }
    if (!make_directory_if_needed(directory)) {
        return PROVKIT_ERR_FILE;
    }
    bool unwritten = false;
    bool outside = false;
    std::size_t written = 0;
    for (const EntryInspection& entry : inspection.entries) {
        const std::string blob = blob_type_name(entry.type) + ", " + count_of(entry.length, "byte");
        if (!entry.inRegion) {
            print_text(field("not written", "entry " + std::to_string(entry.index) + " (" + blob +
                                                "): the blob lies outside the region"));
            outside = true;
            continue;
        }
        const std::string path = joined(directory, entry_file_name(entry));
        if (!write_new_file(path, *read.source, entry)) {
            unwritten = true;
            continue;
        }
        ++written;
        print_text(field("wrote", c_quoted(path) + ", " + blob + ", digest " +
                                      (entry.digest.holds() ? "ok" : "MISMATCH")));
    }
    print_text(field("extracted", count_of(written, "blob") + " into " + c_quoted(directory)));
    return unwritten ? PROVKIT_ERR_FILE : outside ? PROVKIT_ERR_DATA : PROVKIT_OK;
}

int check_update_data_file(std::string_view path, bool jsonReport) {
    UpdateDataCheck check;
    platform::Error error;
    if (check_update_data(path, check, error) != PROVKIT_OK) {
        print_line("Unable to open file! ", path);
        diagnose("cannot read", path, error.reason());
        return PROVKIT_ERR_FILE;
    }
    UpdateDataReport report(path, jsonReport);
    for (const ListedDevice& device : check.devices) {
        report.list(device);
    }
    report.finish(check);
    return check.findings.empty() ? PROVKIT_OK : PROVKIT_ERR_DATA;
}
