#include "app/batch.h"

#include "app/device_run.h"
#include "app/run_record.h"
#include "common/hex.h"
#include "common/report.h"
#include "image/image_batch.h"
#include "image/output_file.h"
#include "platform/platform.h"
#include "provisioning_data/update_data_check.h"

#include <algorithm>
#include <set>

namespace {

constexpr std::string_view kManifestName = "manifest.json";

// The directory holding a directory's name: "out/" is out, in ".".
std::string parent_directory(std::string_view directory) {
    while (directory.size() > 1 &&
           platform::kPathSeparators.find(directory.back()) != std::string_view::npos) {
        directory.remove_suffix(1);
    }
    return platform::directory_of(directory);
}

std::string image_file_name(DeviceId id) {
    return hex16(id.vid) + "-" + hex16(id.did) + "-" + hex16(id.svid) + "-" + hex16(id.ssid) +
           ".fwb";
}

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

struct BatchDevice {
    DeviceId id;
    std::shared_ptr<const EntryValues> values; // shared by the devices of an entry
};

struct DeviceSlot {
    RunFacts facts;
    ProvisionOutcome outcome;
};

class Batch {
  public:
    explicit Batch(const Options& options)
        : options_(options), updateDataPath_(options.positional.front()),
          outputDirectory_(options.positional.back()),
          echo_(options.json ? CapturedOutput::Echo::off : CapturedOutput::Echo::on) {}

    int run() {
        if (options_.record && !record_.open(*options_.record, {})) {
            say_unable_to_record();
            return finish_early(PROVKIT_ERR_FILE);
        }
        UpdateDataCheck check;
        if (platform::Error error;
            check_update_data(updateDataPath_, check, error, EntryValuesKept::yes) != PROVKIT_OK) {
            say_line("Unable to open file! ", updateDataPath_);
            return finish_early(PROVKIT_ERR_FILE);
        }
        updateDataDigest_ = file_digest(updateDataPath_);
        if (check.lineTooLong) {
            say_line("Update data line too long ", updateDataPath_);
            listingStatus_ = PROVKIT_ERR_DATA;
        }
        std::vector<BatchDevice> devices;
        devices.reserve(check.devices.size());
        for (std::size_t i = 0; i < check.devices.size(); ++i) {
            devices.push_back({check.devices[i].id, std::move(check.values[i])});
        }
        if (devices.empty()) {
            say_line("No device listed in update data ", updateDataPath_);
            listingStatus_ = PROVKIT_ERR_DATA;
        }
        if (!prepare_output_directory()) {
            return finish_early(PROVKIT_ERR_FILE);
        }
        for (std::size_t from = 0; from < devices.size(); from += ImageBatch::kCapacity) {
            const std::size_t to = std::min(devices.size(), from + ImageBatch::kCapacity);
            run_group(std::span(devices).subspan(from, to - from));
        }
        return finish();
    }

  private:
    // A line of the batch itself, not of a device: printed, and kept for the manifest.
    void say_line(std::string_view text, std::string_view value) {
        const CapturedOutput captured(echo_);
        print_line(text, value);
        messages_ += captured.text();
    }

    void say_unable_to_record() {
        const CapturedOutput captured(echo_);
        print_unable_to_record(*options_.record);
        messages_ += captured.text();
        recordStatus_ = PROVKIT_ERR_FILE;
    }

    bool refuse_output_directory(std::string_view why) {
        print_diagnostic(std::string(why));
        say_line("Unable to create output directory ", outputDirectory_);
        return false;
    }

    // Made if missing (its parent flushed, so the images' names survive a power
    // cut); a dry run only checks that it could be.
    bool prepare_output_directory() {
        platform::FileInfo info;
        if (!platform::info_of_path(outputDirectory_, info).failed()) {
            return info.kind == platform::FileKind::directory ||
                   refuse_output_directory(outputDirectory_ + " is not a directory");
        }
        return options_.dryRun ? could_make_output_directory() : make_output_directory();
    }

    bool could_make_output_directory() {
        if (const platform::Error error = platform::may_write(parent_directory(outputDirectory_));
            error.failed()) {
            return refuse_output_directory("cannot create the directory " + outputDirectory_ +
                                           ": " + error.reason());
        }
        newOutputDirectory_ = true;
        return true;
    }

    bool make_output_directory() {
        if (const platform::Error error = platform::make_directory(outputDirectory_);
            error.failed()) {
            return refuse_output_directory("cannot create the directory " + outputDirectory_ +
                                           ": " + error.reason());
        }
        const std::string parent = parent_directory(outputDirectory_);
        if (const platform::Error error = platform::sync_directory(parent); error.failed()) {
            return refuse_output_directory("cannot flush the directory " + parent + ": " +
                                           error.reason());
        }
        return true;
    }

    DeviceSlot start_device(const BatchDevice& device) {
        DeviceSlot slot;
        RunFacts& facts = slot.facts;
        facts.dryRun = options_.dryRun;
        facts.id = device.id;
        facts.updateDataPath = updateDataPath_;
        facts.updateDataDigest = updateDataDigest_;
        facts.outputPath = platform::joined_path(outputDirectory_, image_file_name(device.id));
        ProvisionOptions provision;
        provision.dryRun = options_.dryRun;
        provision.digests = true;
        provision.newOutputDirectory = newOutputDirectory_;
        provision.batch = &images_;
        const CapturedOutput captured;
        facts.status = run_stages(*device.values, bases_, provision, facts, slot.outcome);
        if (facts.status == PROVKIT_OK && !slot.outcome.batchSlot) {
            print_closing_lines(facts, slot.outcome);
        }
        facts.printed = captured.text();
        return slot;
    }

    // A device's lines reach standard output only once its image is in place.
    void place_images(std::vector<DeviceSlot>& slots) {
        const std::vector<PlacedImage> placed = images_.commit();
        for (DeviceSlot& slot : slots) {
            if (!slot.outcome.batchSlot) {
                continue;
            }
            const CapturedOutput captured;
            const PlacedImage& image = placed[*slot.outcome.batchSlot];
            slot.facts.outputDigest = image.digest;
            if (image.written) {
                print_closing_lines(slot.facts, slot.outcome);
            } else {
                fail_unplaced(slot.facts);
            }
            slot.facts.printed += captured.text();
        }
    }

    void run_group(std::span<const BatchDevice> devices) {
        std::vector<DeviceSlot> slots;
        for (const BatchDevice& device : devices) {
            slots.push_back(start_device(device));
        }
        place_images(slots);
        std::string lines;
        for (DeviceSlot& slot : slots) {
            if (!options_.json) {
                print_text(slot.facts.printed);
            }
            lines += json_line(run_json(slot.facts));
            if (deviceStatus_ == PROVKIT_OK) {
                deviceStatus_ = slot.facts.status;
            }
            devices_.push_back(std::move(slot.facts));
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

    Json manifest() const {
        Json json;
        json["version"] = tool_version();
        json["update_data"] = {{"path", updateDataPath_},
                               {"sha256", digest_json(updateDataDigest_)}};
        json["status"] = status();
        if (!messages_.empty()) {
            json["messages"] = printed_lines(messages_);
        }
        json["devices"] = Json::array();
        for (const RunFacts& facts : devices_) {
            json["devices"].push_back(manifest_entry(facts, image_file_name(*facts.id)));
        }
        return json;
    }

    int finish_early(Status status) {
        listingStatus_ = status;
        if (options_.json) {
            print_text(json_text(manifest()));
        }
        return status;
    }

    static bool write_manifest(const std::string& path, std::string_view text) {
        OutputFile output;
        if (!output.open(path)) {
            return false;
        }
        const platform::Error error =
            output.streams() ? platform::write_all(output.file(), bytes_of(text))
                             : platform::write_all_at(output.file(), 0, bytes_of(text));
        if (error.failed()) {
            print_diagnostic("cannot write " + path + ": " + error.reason());
            return false;
        }
        return output.commit();
    }

    // What a dry run would write last: its name and digest.
    void print_manifest_would_be(const std::string& path, std::string_view text) const {
        DigestValue digest{};
        (void)calcHash(digest, bytes_of(text));
        print_line("Dry run: would write ", path);
        print_line("sha256        :", to_hex(digest));
    }

    // The files the run reads, which the manifest must never replace.
    bool names_an_input(const std::string& path) const {
        platform::FileInfo manifest;
        if (platform::info_of_path(path, manifest).failed()) {
            return false;
        }
        std::set<std::string> inputs = {updateDataPath_};
        if (options_.record) {
            inputs.insert(*options_.record);
        }
        for (const RunFacts& facts : devices_) {
            if (facts.imageName) {
                inputs.insert(*facts.imageName);
            }
        }
        return std::any_of(inputs.begin(), inputs.end(), [&](const std::string& input) {
            platform::FileInfo info;
            return !platform::info_of_path(input, info).failed() &&
                   info.identity == manifest.identity;
        });
    }

    bool manifest_could_be_written(const std::string& path) const {
        if (names_an_input(path)) {
            print_diagnostic(path + " is a file the run reads");
            return false;
        }
        return options_.dryRun ? newOutputDirectory_ || OutputFile::check(path)
                               : write_manifest(path, json_text(manifest()));
    }

    // The manifest last, through the same writer as the images; when it cannot
    // be written, the manifest printed says so.
    int finish() {
        const std::string path = platform::joined_path(outputDirectory_, kManifestName);
        if (!manifest_could_be_written(path)) {
            say_line("Unable to write manifest ", path);
            manifestStatus_ = PROVKIT_ERR_FILE;
        } else if (options_.dryRun && !options_.json) {
            print_manifest_would_be(path, json_text(manifest()));
        } else if (!options_.json) {
            print_line("Manifest written  ", path);
        }
        if (options_.json) {
            print_text(json_text(manifest()));
        }
        return status();
    }

    const Options& options_;
    std::string updateDataPath_;
    std::string outputDirectory_;
    CapturedOutput::Echo echo_;
    RunRecord record_;
    std::optional<DigestValue> updateDataDigest_;
    bool newOutputDirectory_ = false;
    BaseImages bases_;
    ImageBatch images_;
    std::vector<RunFacts> devices_;
    std::string messages_;
    Status deviceStatus_ = PROVKIT_OK;
    Status listingStatus_ = PROVKIT_OK;
    Status recordStatus_ = PROVKIT_OK;
    Status manifestStatus_ = PROVKIT_OK;
};

} // namespace

int run_batch(const Options& options) {
    return Batch(options).run();
}
