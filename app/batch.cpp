#include "app/batch.h"

#include "app/device_run.h"
#include "app/json_document.h"
#include "app/lookup_notes.h"
#include "app/manifest.h"
#include "app/manifest_file.h"
#include "app/output.h"
#include "app/output_directory.h"
#include "app/record_file.h"
#include "app/run_record.h"
#include "app/selection.h"
#include "image/image_batch.h"
#include "platform/platform.h"
#include "provisioning_data/board_data_stage.h"
#include "provisioning_data/update_data_check.h"

#include <algorithm>
#include <unordered_set>

namespace {

// Files the batch holds open besides the waiting images and the bases: standard
// streams, the update data, the record, the directory, the manifest, a spare few.
constexpr std::size_t kOtherOpenFiles = 12;

// What the open-file limit leaves for the bases kept open and the images waiting.
struct OpenFileShares {
    std::size_t bases = BaseImages::kMostKept;
    std::size_t images = ImageBatch::kCapacity;
};

OpenFileShares open_file_shares() {
    const std::size_t allowed = platform::open_files_allowed();
    const std::size_t left = allowed > kOtherOpenFiles + 2 ? allowed - kOtherOpenFiles : 2;
    const std::size_t bases = std::clamp<std::size_t>(left / 4, 1, BaseImages::kMostKept);
    return {bases, std::clamp<std::size_t>(left - bases, 1, ImageBatch::kCapacity)};
}

// A device of the group being written: its lines wait with its image.
struct DeviceSlot {
    RunFacts facts;
    Transcript out{false};
    std::shared_ptr<BaseImage> base;
    bool waits = false; // its image waits in the batch to be put in place
};

class Batch {
  public:
    explicit Batch(const Options& options)
        : options_(options), updateDataPath_(options.positional.front()),
          output_(options.positional.back()), shares_(open_file_shares()),
          batchLines_(!options.json), bases_(shares_.bases) {}

    int run() {
        otherFiles_ = files_in_use(updateDataPath_);
        // Images are renamed into place, never written through a name: standard
        // output's file cannot take them.
        std::erase_if(otherFiles_,
                      [](const RunFile& file) { return file.role == "standard output"; });
        if (options_.record && !record_.open(*options_.record, otherFiles_)) {
            say_unable_to_record();
            return finish_early(PROVKIT_ERR_FILE);
        }
        if (!check_update_data(updateDataPath_, check_, {.keepValues = true, .digest = true})) {
            say_line("Unable to open file! ", updateDataPath_);
            return finish_early(PROVKIT_ERR_FILE);
        }
        updateDataDigest_ = check_.fileDigest;
        if (check_.lineTooLong) {
            say_line("Update data line too long ", updateDataPath_);
            listingStatus_ = PROVKIT_ERR_DATA;
        }
        if (check_.devices.empty()) {
            say_line("No device listed in update data ", updateDataPath_);
            listingStatus_ = PROVKIT_ERR_DATA;
        }
        if (const Status selected = select_devices(); selected != PROVKIT_OK) {
            return finish_early(selected);
        }
        if (!record_is_no_base()) {
            return finish_early(PROVKIT_ERR_FILE);
        }
        if (!prepare_output_directory()) {
            return finish_early(PROVKIT_ERR_FILE);
        }
        if (const std::optional<platform::FileIdentity> own = record_.identity()) {
            otherFiles_.push_back({*own, "the record"});
        }
        total_ = check_.devices.size();
        progress_ = !options_.json && platform::standard_error_is_terminal();
        while (!check_.devices.empty()) {
            run_group();
        }
        return finish();
    }

  private:
    // --only: the named devices alone, each of which the update data must list,
    // before anything is written.
    Status select_devices() {
        if (!options_.only) {
            return PROVKIT_OK;
        }
        Selection selection = read_selection(*options_.only);
        if (selection.status != PROVKIT_OK) {
            if (!selection.reason.empty()) {
                print_diagnostic("cannot read " + options_.only->substr(1) + ": " +
                                 selection.reason);
            }
            batchLines_.text(selection.line + "\n");
            return selection.status;
        }
        selection_ = std::move(selection.devices);
        const std::vector<DeviceId> missing = keep_selected(check_, *selection_);
        for (const DeviceId id : missing) {
            say_line("Device not in update data ", device_name(id));
        }
        return missing.empty() ? PROVKIT_OK : PROVKIT_ERR_DATA;
    }

    // A line of the batch itself, not of a device: printed, and kept for the manifest.
    void say_line(std::string_view text, std::string_view value) { batchLines_.line(text, value); }

    void say_unable_to_record() {
        say_line("Unable to write record ", *options_.record);
        recordStatus_ = PROVKIT_ERR_FILE;
    }

    // Appending to a base image would change what later runs read from it.
    bool record_is_no_base() {
        std::string_view last;
        for (const ListedDevice& device : check_.devices) {
            if (device.imageName.data() != last.data() && record_.is_open() &&
                !record_.is_not(base_image_path(options_.baseDir, device.imageName),
                                "the base image")) {
                say_unable_to_record();
                return false;
            }
            last = device.imageName;
        }
        return true;
    }

    bool prepare_output_directory() {
        const std::optional<DirectoryRefusal> refusal = output_.prepare(options_.dryRun);
        if (refusal) {
            print_diagnostic(refusal->diagnostic);
            say_line(refusal->line, output_.path());
        }
        return !refusal;
    }

    // A device's stages up to its image waiting in the batch (or, in a dry run, checked).
    void start_device(const ListedDevice& device, const std::shared_ptr<const EntryValues>& values,
                      ImageBatch& images, DeviceSlot& slot) {
        RunFacts& facts = slot.facts;
        facts.dryRun = options_.dryRun;
        facts.id = device.id;
        facts.updateDataPath = updateDataPath_;
        facts.updateDataDigest = updateDataDigest_;
        facts.imageName = values->imageName;
        facts.basePath = base_image_path(options_.baseDir, values->imageName);
        const std::string name = image_file_name(device.id);
        facts.outputPath = platform::joined_path(output_.path(), name);
        // Held while it is the last, so that no other entry's values take its place.
        if (decodedValues_ != values) {
            decodedValues_ = values;
            decoded_ = decode_board_data(*values);
        }
        print_board_data_stage(slot.out, values.get(), decoded_ ? Failure{} : decoded_.error());
        if (!decoded_) {
            facts.status = decoded_.error().status;
            return;
        }
        facts.macLength = decoded_->macBdpLen;
        facts.phyLength = decoded_->phyBdpLen;
        facts.exprom = decoded_->exprom;
        print_provision_start(slot.out, *decoded_);
        const ProvisionOptions provision{
            .dryRun = options_.dryRun, .digests = true, .otherFiles = otherFiles_};
        const ProvisionOutcome outcome =
            images.add(*decoded_, *facts.basePath, name, facts.outputPath, bases_, provision);
        print_provision_outcome(slot.out, outcome, facts);
        facts.status = outcome.failure.status;
        slot.base = outcome.base;
        slot.waits = !outcome.failure.failed() && !options_.dryRun;
        if (!outcome.failure.failed() && options_.dryRun) {
            close_device(slot);
        }
    }

    void close_device(DeviceSlot& slot) {
        print_closing_lines(slot.out, slot.facts);
        warnings_.warn_if_unsealed(*slot.base, *slot.facts.imageName);
    }

    // A device's lines reach standard output only once its image is in place.
    void place_images(std::vector<DeviceSlot>& slots, ImageBatch& images) {
        const std::vector<Failure> placed = images.commit();
        std::size_t next = 0;
        for (DeviceSlot& slot : slots) {
            if (!slot.waits) {
                continue;
            }
            const Failure& failure = placed[next++];
            if (failure.failed()) {
                print_unplaced(slot.out, failure, slot.facts);
            } else {
                close_device(slot);
            }
        }
    }

    // The next devices, each released from the check once it is written.
    void run_group() {
        ImageBatch images(output_.opened(), shares_.images);
        std::vector<DeviceSlot> slots(std::min(check_.devices.size(), images.capacity()));
        std::vector<std::string_view> imageNames;
        for (DeviceSlot& slot : slots) {
            start_device(check_.devices.front(), check_.values.front(), images, slot);
            imageNames.push_back(check_.devices.front().imageName);
            check_.devices.pop_front();
            check_.values.pop_front();
        }
        place_images(slots, images);
        std::string lines;
        std::string printed;
        const RunStamp stamp = stamp_now();
        for (std::size_t i = 0; i < slots.size(); ++i) {
            RunFacts& facts = slots[i].facts;
            facts.printed = slots[i].out.printed();
            const std::string name = device_name(*facts.id);
            printed += "Device        :" + name + "\n" + facts.printed;
            if (facts.status != PROVKIT_OK) {
                failed_.push_back(name);
            } else {
                written_.insert(image_file_name(*facts.id));
            }
            if (record_.is_open()) {
                lines += json_line(run_json(facts, &stamp));
            }
            if (deviceStatus_ == PROVKIT_OK) {
                deviceStatus_ = facts.status;
            }
            manifest_.add(facts, imageNames[i]);
            baseNames_.insert(imageNames[i]);
        }
        if (!options_.json) {
            print_text(printed);
        }
        done_ += slots.size();
        if (progress_) {
            print_progress(std::to_string(done_) + "/" + std::to_string(total_) + " devices");
        }
        if (record_.is_open() && recordStatus_ == PROVKIT_OK && !record_.append(lines)) {
            say_unable_to_record();
        }
    }

    Status status() const {
        for (const Status status :
             {deviceStatus_, listingStatus_, recordStatus_, manifestStatus_}) {
            if (status != PROVKIT_OK) {
                return status;
            }
        }
        return PROVKIT_OK;
    }

    Json manifest_head() const {
        Json json = document_head("manifest");
        json["update_data"] = {{"path", updateDataPath_},
                               {"sha256", digest_json(updateDataDigest_)}};
        json["selection"] = nullptr;
        if (selection_) {
            json["selection"] = Json::array();
            for (const DeviceId id : *selection_) {
                json["selection"].push_back(device_name(id));
            }
        }
        json["status"] = status();
        json["stale"] = stale_;
        if (!batchLines_.printed().empty()) {
            json["messages"] = printed_lines(batchLines_.printed());
        }
        return json;
    }

    int finish_early(Status status) {
        listingStatus_ = status;
        if (options_.json) {
            print_manifest();
        }
        return status;
    }

    void print_manifest() const {
        (void)manifest_.write(manifest_head(), [](std::string_view text) {
            print_text(text);
            return true;
        });
    }

    ManifestPlace manifest_place() const {
        return {output_, [this](std::optional<platform::FileIdentity> identity) {
                    return names_an_input(identity);
                }};
    }

    // The files the run reads, which the manifest must never replace.
    bool names_an_input(std::optional<platform::FileIdentity> manifest) const {
        if (!manifest) {
            return false;
        }
        return std::any_of(otherFiles_.begin(), otherFiles_.end(),
                           [&](const RunFile& file) { return file.identity == *manifest; }) ||
               std::any_of(baseNames_.begin(), baseNames_.end(), [&](std::string_view name) {
                   return platform::identity_of(name) == manifest;
               });
    }

    // The manifest last, through the same writer as the images; when it cannot
    // be written, the manifest printed says so.
    int finish() {
        if (progress_) {
            print_progress_end();
        }
        list_stale_images();
        const ManifestPlace place = manifest_place();
        if (!(options_.dryRun ? manifest_place_usable(place)
                              : write_manifest_file(manifest_, manifest_head(), place))) {
            say_line("Unable to write manifest ", place.path());
            manifestStatus_ = PROVKIT_ERR_FILE;
        } else if (options_.dryRun && !options_.json) {
            print_manifest_would_be(manifest_, manifest_head(), place);
        } else if (!options_.json) {
            print_line("Manifest written  ", place.path());
        }
        if (options_.json) {
            print_manifest();
        } else {
            print_summary();
        }
        return status();
    }

    // Images an earlier batch left: never deleted, but named, so that no one
    // flashes them believing this batch wrote them.
    void list_stale_images() {
        stale_ = output_.images_other_than(written_);
        for (const std::string& name : stale_) {
            print_diagnostic("stale image " + platform::joined_path(output_.path(), name) +
                             ": this batch did not write it");
        }
    }

    void print_summary() const {
        print_text(std::to_string(manifest_.size() - failed_.size()) +
                   (options_.dryRun ? " would be written, " : " written, ") +
                   std::to_string(failed_.size()) + " failed\n");
        for (const std::string& name : failed_) {
            print_line("Failed        :", name);
        }
    }

    const Options& options_;
    std::string updateDataPath_;
    OutputDirectory output_;
    OpenFileShares shares_;
    Transcript batchLines_; // the batch's own lines, not a device's
    std::vector<RunFile> otherFiles_;
    RunRecord record_;
    UpdateDataCheck check_; // its held texts name the devices' images to the end
    std::optional<DigestValue> updateDataDigest_;
    BaseImages bases_;
    // The last entry's blobs decoded: the devices of an entry come one after another.
    std::shared_ptr<const EntryValues> decodedValues_;
    Result<BoardData> decoded_ = BoardData{};
    BaseWarnings warnings_;
    Manifest manifest_;
    std::unordered_set<std::string_view> baseNames_; // each device's <image>, once
    std::optional<std::vector<DeviceId>> selection_; // --only's devices
    std::unordered_set<std::string> written_;        // the images' file names
    std::vector<std::string> failed_;                // the failed devices' names
    std::vector<std::string> stale_;
    std::size_t total_ = 0;
    std::size_t done_ = 0;
    bool progress_ = false;
    Status deviceStatus_ = PROVKIT_OK;
    Status listingStatus_ = PROVKIT_OK;
    Status recordStatus_ = PROVKIT_OK;
    Status manifestStatus_ = PROVKIT_OK;
};

} // namespace

int run_batch(const Options& options) {
    return Batch(options).run();
}
