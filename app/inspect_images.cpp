#include "app/image_reports.h"
#include "app/inspect_modes.h"
#include "app/json_document.h"
#include "app/output.h"
#include "app/reports.h"
#include "app/update_data_report.h"
#include "image/image_inspection.h"
#include "image/image_reading.h"
#include "platform/platform.h"
#include "provisioning_data/device_key.h"
#include "provisioning_data/update_data_check.h"

#include <algorithm>

namespace {

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

std::string entry_file_name(const EntryInspection& entry) {
    const std::string_view name = layout::blob_name(entry.type);
    const std::string kind =
        name.empty() ? "type-" + std::to_string(entry.type) : lowercase_ascii(name);
    return "entry-" + std::to_string(entry.index) + "-" + kind + ".bin";
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

// The count bytes of source at offset into file, a block at a time.
platform::Error copy_out(ImageBytes& source, std::uint64_t offset, std::uint64_t count,
                         const platform::File& file) {
    platform::Error written;
    bool complete = false;
    const platform::Error read = source.read_blocks(
        offset, count,
        [&](std::span<const std::uint8_t> block) {
            written = platform::write_all(file, block);
            return !written.failed();
        },
        complete);
    return read.failed() ? read : written;
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

} // namespace

int inspect_images(const std::vector<std::string>& paths, bool blobs, bool jsonReport) {
    bool unreadable = false;
    bool unverified = false;
    ChunkedOutput out;
    // Kept open to the end: a JSON report reads the blobs as it is written.
    std::vector<ReadImage> images(paths.size());
    std::vector<InspectedImage> inspected;
    Json reports = Json::array();
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!jsonReport && i > 0) {
            out.text() += "\n";
        }
        platform::Error error;
        if (!read_image(paths[i], images[i], error)) {
            unreadable = true;
            out.flush();
            Transcript lines(!jsonReport);
            report_unreadable_image(lines, paths[i], error);
            reports.push_back({{"path", paths[i]},
                               {"readable", false},
                               {"verified", false},
                               {"messages", printed_lines(lines.printed())}});
            continue;
        }
        unverified = unverified || !images[i].inspection.verified();
        const InspectedImage image{paths[i], &images[i].inspection,
                                   blobs ? &*images[i].source : nullptr};
        inspected.push_back(image);
        if (!jsonReport) {
            if (!print_image_report_text(out, image)) {
                out.flush();
                Transcript lines(true);
                report_unreadable_image(lines, paths[i], {});
                return PROVKIT_ERR_FILE;
            }
            continue;
        }
        reports.push_back(image_report_json(image, inspected.size() - 1));
    }
    const int status = unreadable ? PROVKIT_ERR_FILE : unverified ? PROVKIT_ERR_DATA : PROVKIT_OK;
    if (jsonReport) {
        Json report = document_head("images");
        report["status"] = status;
        report["verified"] = status == PROVKIT_OK;
        report["images"] = std::move(reports);
        if (!print_json_with_blobs(out, report, inspected)) {
            return PROVKIT_ERR_FILE;
        }
    }
    return status;
}

int extract_blobs(std::string_view image, std::string_view directory) {
    ReadImage read;
    platform::Error error;
    if (!read_image(image, read, error)) {
        Transcript out(true);
        report_unreadable_image(out, image, error);
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
    UpdateDataReading reading(check);
    UpdateDataReport report(path, jsonReport);
    Result<> read = reading.open(path);
    // Each device is printed and let go as its entry closes: memory stays that of the lookup.
    for (bool more = static_cast<bool>(read); more;) {
        more = reading.read_some();
        for (; !check.devices.empty(); check.devices.pop_front()) {
            report.list(check.devices.front());
        }
    }
    if (read) {
        read = reading.finish();
    }
    // Entries still open at the end of the file close there.
    for (; read && !check.devices.empty(); check.devices.pop_front()) {
        report.list(check.devices.front());
    }
    if (!read) {
        // The devices read before a failed read stand before the reason.
        const ToolLines lines = unreadable_update_data_lines(path, read.error().reason);
        report.fail(PROVKIT_ERR_FILE, lines.printed);
        print_diagnostic(lines.diagnostic);
        return PROVKIT_ERR_FILE;
    }
    report.finish(check);
    return check.findings.empty() ? PROVKIT_OK : PROVKIT_ERR_DATA;
}
