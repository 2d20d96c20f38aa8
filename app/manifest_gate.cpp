#include "app/manifest_gate.h"

#include "app/expectation.h"
#include "app/gate_report.h"
#include "app/json_document.h"
#include "app/lookup_notes.h"
#include "app/manifest_reading.h"
#include "app/selection.h"
#include "common/hex.h"
#include "image/calc_hash.h"
#include "provisioning_data/update_data_check.h"

#include <algorithm>
#include <memory>
#include <unordered_set>

namespace {

// The batch's images are named by the batch: a name that leads elsewhere is no image of it.
bool plain_image_name(std::string_view name) {
    return name.ends_with(".fwb") && name.find_first_of("/\\:") == std::string_view::npos &&
           name != ".fwb";
}

class Gate {
  public:
    explicit Gate(const GateRequest& request)
        : request_(request), directory_(platform::directory_of(request.manifest)),
          reading_(check_, {.keepValues = true, .digest = true}) {}

    int run() {
        const std::optional<ManifestReadFailure> failure =
            read_manifest(request_.manifest,
                          {[this](const ManifestHead& head) { start(head); },
                           [this](const ManifestEntry& entry) { return check_device(entry); }});
        if (failure && failure->reasonOfSystem) {
            diagnose("cannot read", request_.manifest, failure->reason);
            return GateReport::fail(request_.manifest, request_.json, PROVKIT_ERR_FILE,
                                    "Unable to open file! " + request_.manifest + "\n");
        }
        if (!report_ && startStatus_ == PROVKIT_OK) {
            // The text ended, or went wrong, before the manifest's head was whole.
            startStatus_ = PROVKIT_ERR_DATA;
            startLines_ = "Not a manifest " + request_.manifest + ": " +
                          (failure ? failure->reason : "no devices") + "\n";
        }
        if (!report_) {
            return GateReport::fail(request_.manifest, request_.json, startStatus_, startLines_);
        }
        if (failure) {
            report_->add({request_.manifest, Verdict::different, {failure->reason}, {}});
        }
        return finish();
    }

  private:
    // The manifest's head is read: the update data and the directory's images.
    void start(const ManifestHead& head) {
        head_ = head;
        const std::optional<std::string> path =
            request_.updateData ? request_.updateData : head.updateDataPath;
        if (!path) {
            startStatus_ = PROVKIT_ERR_DATA;
            startLines_ = "No update data in manifest " + request_.manifest + "\n";
            return;
        }
        updateDataPath_ = *path;
        if (Result<> opened = reading_.open(*path); !opened) {
            diagnose("cannot read", *path, opened.error().reason.reason());
            startStatus_ = PROVKIT_ERR_FILE;
            startLines_ = "Unable to open file! " + *path + "\n";
            return;
        }
        if (head.selection) {
            for (const DeviceId id : *head.selection) {
                selection_.insert(device_key(id));
            }
        }
        platform::Directory directory;
        if (!directory.open(directory_).failed()) {
            (void)platform::names_in(directory, images_);
        }
        std::erase_if(images_, [](const std::string& name) { return !name.ends_with(".fwb"); });
        std::sort(images_.begin(), images_.end());
        listed_.assign(images_.size(), false);
        report_.emplace(request_.manifest, request_.json);
    }

    bool selected(DeviceId id) const {
        return !head_.selection || selection_.contains(device_key(id));
    }

    // The update data's next devices up to id, in step with the manifest, which
    // lists them in the same order; those passed that the batch should have written
    // are not in the manifest.
    std::shared_ptr<const EntryValues> listed_values(DeviceId id) {
        for (;;) {
            while (check_.devices.empty() && more_) {
                more_ = reading_.read_some();
            }
            if (check_.devices.empty()) {
                return nullptr;
            }
            const ListedDevice device = check_.devices.front();
            std::shared_ptr<const EntryValues> values = check_.values.front();
            check_.devices.pop_front();
            check_.values.pop_front();
            if (device.id == id) {
                return values;
            }
            unlisted(device.id);
        }
    }

    void unlisted(DeviceId id) {
        if (selected(id)) {
            report_->add({device_name(id), Verdict::not_in_manifest, {}, {}});
        }
    }

    bool check_device(const ManifestEntry& entry) {
        if (!report_) {
            return false;
        }
        GateFinding finding;
        finding.name = entry.id ? device_name(*entry.id) : "(unnamed)";
        const std::shared_ptr<const EntryValues> values =
            entry.id ? listed_values(*entry.id) : nullptr;
        mark_listed(entry.file);
        if (!entry.id || !values) {
            finding.verdict = Verdict::not_in_update_data;
        } else if (!selected(*entry.id)) {
            finding.verdict = Verdict::not_selected;
        } else if (entry.status != PROVKIT_OK) {
            finding.verdict = Verdict::failed;
            finding.problems.push_back("status " + std::to_string(entry.status));
        } else {
            check_image(entry, *values, finding);
        }
        report_->add(finding);
        return true;
    }

    void mark_listed(const std::string& file) {
        const auto at = std::lower_bound(images_.begin(), images_.end(), file);
        if (at != images_.end() && *at == file) {
            listed_[static_cast<std::size_t>(at - images_.begin())] = true;
        }
    }

    void check_image(const ManifestEntry& entry, const EntryValues& values, GateFinding& finding);
    void check_expected(const OpenedImage& image, const std::string& path,
                        const EntryValues& values, GateFinding& finding);

    int finish() {
        while (more_) {
            more_ = reading_.read_some();
            for (; !check_.devices.empty(); check_.devices.pop_front()) {
                unlisted(check_.devices.front().id);
            }
        }
        Result<> read = reading_.finish();
        for (; read && !check_.devices.empty(); check_.devices.pop_front()) {
            unlisted(check_.devices.front().id);
        }
        for (std::size_t i = 0; i < images_.size(); ++i) {
            if (!listed_[i]) {
                report_->add({images_[i], Verdict::stale, {"not in the manifest"}, {}});
            }
        }
        if (!read) {
            diagnose("cannot read", updateDataPath_, read.error().reason.reason());
            report_->update_data(updateDataPath_, "UNREADABLE");
            return report_->finish(PROVKIT_ERR_FILE);
        }
        const std::string digest = check_.fileDigest ? to_hex(*check_.fileDigest) : "";
        report_->update_data(updateDataPath_,
                             head_.updateDataSha256 == digest
                                 ? ""
                                 : "NOT AS LISTED: its sha256 differs from the manifest's");
        return report_->finish(PROVKIT_OK);
    }

    const GateRequest& request_;
    std::string directory_;
    UpdateDataCheck check_;
    UpdateDataReading reading_;
    bool more_ = true;
    ManifestHead head_;
    std::unordered_set<std::uint64_t> selection_;
    std::string updateDataPath_;
    std::vector<std::string> images_; // the .fwb files in the directory, sorted
    std::vector<bool> listed_;        // beside images_: the manifest lists it
    std::optional<GateReport> report_;
    int startStatus_ = PROVKIT_OK;
    std::string startLines_;
};

void Gate::check_image(const ManifestEntry& entry, const EntryValues& values,
                       GateFinding& finding) {
    if (!plain_image_name(entry.file)) {
        finding.verdict = Verdict::different;
        finding.problems.push_back("file " + c_quoted(entry.file) + " is no image name");
        return;
    }
    const std::string path = platform::joined_path(directory_, entry.file);
    OpenedImage image;
    platform::Error error;
    if (!open_image(path, ImageKinds::regular_only, image, error)) {
        finding.verdict = error.missing() ? Verdict::missing : Verdict::unreadable;
        finding.problems.push_back(c_quoted(path));
        if (!error.missing()) {
            diagnose("cannot read", path, error.failed() ? error.reason() : "not a regular file");
        }
        return;
    }
    const Result<DigestValue> digest = file_sha256(image.file, image.length);
    if (!digest) {
        const platform::Error& reason = digest.error().reason;
        finding.verdict = Verdict::unreadable;
        finding.problems.push_back(c_quoted(path));
        diagnose("cannot read", path, reason.failed() ? reason.reason() : "it ended early");
        return;
    }
    if (entry.length != image.length) {
        finding.problems.push_back("length " + std::to_string(image.length) + ", listed " +
                                   (entry.length ? std::to_string(*entry.length) : "none"));
    }
    if (entry.sha256 != to_hex(*digest)) {
        finding.problems.push_back("sha256 differs from the manifest's");
    }
    if (!finding.problems.empty()) {
        finding.verdict = Verdict::different;
    }
    check_expected(image, path, values, finding);
}

void Gate::check_expected(const OpenedImage& image, const std::string& path,
                          const EntryValues& values, GateFinding& finding) {
    ExpectReport report;
    report.image = path;
    Transcript out(false);
    int status = PROVKIT_OK;
    const Result<BoardData> board = decode_board_data(values);
    if (!board) {
        report.refusal = refusal_text(board.error());
    } else {
        const std::string base = base_image_path(request_.baseDir, values.imageName);
        ExpectedImage expected;
        status = expected_from(*board, base, false, report, expected, out);
        if (status == PROVKIT_OK) {
            status = compare_with_expected(image, expected, report, out);
        }
    }
    if (status == PROVKIT_ERR_FILE) {
        finding.verdict = Verdict::unreadable;
        finding.problems.push_back(printed_lines(out.printed()).front());
        return;
    }
    if (!report.refusal.empty()) {
        finding.problems.push_back("fwbforge2 would refuse it: " + report.refusal);
    }
    for (const PartDifference& difference : report.differences) {
        finding.problems.push_back(difference_text(difference));
    }
    finding.differences = std::move(report.differences);
    if (finding.verdict == Verdict::ok && !finding.problems.empty()) {
        finding.verdict = Verdict::not_as_expected;
    }
}

} // namespace

int check_batch(const GateRequest& request) {
    return Gate(request).run();
}
