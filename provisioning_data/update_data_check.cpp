#include "provisioning_data/update_data_check.h"

#include "provisioning_data/board_data_stage.h"
#include "provisioning_data/device_key.h"
#include "provisioning_data/line_reader.h"

#include <algorithm>
#include <array>
#include <map>
#include <tuple>

namespace {

constexpr std::string_view kPciidMention = "<pciid";
constexpr std::array<std::string_view, 4> kTags = {kMacTag, kPhyTag, kExpromTag, kImageTag};

std::uint64_t key_of(DeviceId id) {
    return std::uint64_t{id.vid} << 48 | std::uint64_t{id.did} << 32 |
           std::uint64_t{id.svid} << 16 | id.ssid;
}

bool has_tag(std::string_view line, std::string_view tag) {
    return line.find(tag) != std::string_view::npos;
}

bool has_value_tag(std::string_view line) {
    return has_tag(line, kMacTag) || has_tag(line, kPhyTag) || has_tag(line, kExpromTag);
}

std::string line_number(std::size_t line) {
    return std::to_string(line);
}

// One pass over the file, with every device whose entry is open at this line.
class Scan {
  public:
    explicit Scan(UpdateDataCheck& check) : check_(check) {}

    void take(std::size_t number, std::string_view line) {
        const std::string lowered = lowercase_ascii(line);
        const std::vector<DeviceId> keys =
            is_key_line(line) ? device_keys_in(lowered) : std::vector<DeviceId>{};
        if (keys.empty() && lowered.find(kPciidMention) != std::string::npos) {
            report_near_miss(number, line);
        }
        for (const DeviceId id : keys) {
            open_device(number, id);
        }
        if (open_.empty()) {
            report_tags_outside(number, line);
            return;
        }
        take_entry_line_for_open_devices(number, line);
    }

    void finish() {
        if (!open_.empty()) {
            report(first_open_key_line(),
                   "entry has no <image> before the end of the file: its image name is empty");
            close_entry(0);
        }
        for (ListedDevice& device : check_.devices) {
            device.macBytes = check_blob(device.macLine, "MAC", device.values.macText);
            device.phyBytes = check_blob(device.phyLine, "PHY", device.values.phyText);
            check_image_name(device);
        }
        std::sort(check_.findings.begin(), check_.findings.end(),
                  [](const Finding& a, const Finding& b) {
                      return std::tie(a.line, a.message) < std::tie(b.line, b.message);
                  });
        const auto same = [](const Finding& a, const Finding& b) {
            return a.line == b.line && a.message == b.message;
        };
        check_.findings.erase(std::unique(check_.findings.begin(), check_.findings.end(), same),
                              check_.findings.end());
    }

  private:
    std::size_t first_open_key_line() const {
        std::size_t line = SIZE_MAX;
        for (const Cohort& cohort : open_) {
            line = std::min(line, cohort.openedAt);
        }
        return line;
    }

    void report(std::size_t line, std::string message) {
        check_.findings.push_back({line, std::move(message)});
    }

    void report_near_miss(std::size_t number, std::string_view line) {
        if (!is_key_line(line)) {
            report(number,
                   "mentions <pciid but not as \"<pciid vid=\" exactly: not a key line, no device "
                   "is found here");
        } else {
            report(number, "key line not written as <pciid vid=\"hhhh\" did=\"hhhh\" sdid=\"hhhh\" "
                           "svid=\"hhhh\" /> (that order, single blanks, a blank before />): no "
                           "device is found here");
        }
    }

    void report_tags_outside(std::size_t number, std::string_view line) {
        for (const std::string_view tag : kTags) {
            if (has_tag(line, tag)) {
                report(number, std::string(tag) + " outside any entry: no device reads it");
            }
        }
    }

    void open_device(std::size_t number, DeviceId id) {
        const auto [listed, inserted] =
            first_listing_.try_emplace(key_of(id), check_.devices.size());
        if (!inserted) {
            report(number, "device listed again; the listing at line " +
                               line_number(check_.devices[listed->second].keyLine) + " wins");
            return;
        }
        if (!open_.empty() && open_has_values_) {
            report(first_open_key_line(), "entry has no <image> before line " +
                                              line_number(number) +
                                              ": it takes the next device's values");
        }
        ListedDevice device;
        device.id = id;
        device.keyLine = number;
        check_.devices.push_back(device);
        if (open_.empty() || open_.back().openedAt != number) {
            open_.push_back(Cohort{number, {}, {}, 0, 0});
        }
        open_.back().devices.push_back(check_.devices.size() - 1);
    }

    void take_entry_line_for_open_devices(std::size_t number, std::string_view line) {
        check_values_on(number, line);
        open_has_values_ = open_has_values_ || has_value_tag(line);
        bool ended = false;
        for (Cohort& cohort : open_) {
            const EntryValues before = cohort.values;
            ended = take_entry_line(line, cohort.values);
            cohort.macLine = cohort.values.macText != before.macText ? number : cohort.macLine;
            cohort.phyLine = cohort.values.phyText != before.phyText ? number : cohort.phyLine;
        }
        if (ended) {
            close_entry(number);
        }
        merge_alike_cohorts();
    }

    void close_entry(std::size_t imageLine) {
        for (const Cohort& cohort : open_) {
            for (const std::size_t index : cohort.devices) {
                ListedDevice& device = check_.devices[index];
                device.values = cohort.values;
                device.macLine = cohort.macLine;
                device.phyLine = cohort.phyLine;
                device.imageLine = imageLine;
            }
        }
        open_.clear();
        open_has_values_ = false;
    }

    // Cohorts that hold the same values stay alike on every later line, so the
    // work per line stays small however many devices one entry lists.
    void merge_alike_cohorts() {
        for (std::size_t i = 0; i < open_.size(); ++i) {
            for (std::size_t j = open_.size() - 1; j > i; --j) {
                if (open_[i].alike(open_[j])) {
                    open_[i].devices.insert(open_[i].devices.end(), open_[j].devices.begin(),
                                            open_[j].devices.end());
                    open_.erase(open_.begin() + static_cast<std::ptrdiff_t>(j));
                }
            }
        }
    }

    void check_values_on(std::size_t number, std::string_view line) {
        if (const auto exprom = find_tag_value(line, kExpromTag);
            exprom && exprom->text != "True" && exprom->text != "False") {
            report(number, "<exprom> value is neither \"True\" nor \"False\": it switches the "
                           "expansion ROM off");
        }
        if (const auto image = find_tag_value(line, kImageTag);
            image && !image->closed_by_less_than) {
            report(number, "<image> value runs to the end of the line: the file name carries the "
                           "line feed");
        }
    }

    std::optional<std::size_t> check_blob(std::size_t line, std::string_view name,
                                          std::string_view text) {
        std::array<std::uint8_t, kBlobCapacity> scratch{};
        switch (string_to_databuff(text, scratch)) {
        case PROVKIT_OK:
            return text.size() / 2;
        case PROVKIT_ERR_ODD_HEX:
            report(line, std::string(name) + " text has an odd length (" +
                             std::to_string(text.size()) + " characters)");
            return std::nullopt;
        case PROVKIT_ERR_BAD_HEX:
            report(line, std::string(name) + " text holds a character that is not a hex digit");
            return std::nullopt;
        default:
            report(line, std::string(name) + " text is longer than 1024 bytes (" +
                             std::to_string(text.size() / 2) + " bytes)");
            return std::nullopt;
        }
    }

    void check_image_name(const ListedDevice& device) {
        const std::string& name = device.values.imageName;
        platform::FileInfo info;
        const bool regular = !platform::info_of_path(name, info).failed() &&
                             info.kind == platform::FileKind::regular;
        if (!regular && device.imageLine != 0) {
            report(device.imageLine, "image name names no file in the working directory");
        }
    }

    // Devices whose entry has not met its "<image>" and that so far took the same values.
    struct Cohort {
        std::size_t openedAt;
        std::vector<std::size_t> devices;
        EntryValues values;
        std::size_t macLine;
        std::size_t phyLine;

        bool alike(const Cohort& other) const {
            return values.macText == other.values.macText &&
                   values.phyText == other.values.phyText && values.exprom == other.values.exprom &&
                   macLine == other.macLine && phyLine == other.phyLine;
        }
    };

    UpdateDataCheck& check_;
    std::map<std::uint64_t, std::size_t> first_listing_;
    std::vector<Cohort> open_;
    bool open_has_values_ = false;
};

} // namespace

Status check_update_data(std::string_view path, UpdateDataCheck& check) {
    platform::File file;
    if (platform::open_for_reading(path, file).failed()) {
        return PROVKIT_ERR_FILE;
    }
    LineReader reader(file);
    Scan scan(check);
    std::size_t number = 0;
    for (std::string line; reader.next(line);) {
        scan.take(++number, line);
    }
    if (reader.failed()) {
        return PROVKIT_ERR_FILE;
    }
    scan.finish();
    return PROVKIT_OK;
}
