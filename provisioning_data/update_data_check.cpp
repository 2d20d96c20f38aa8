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

bool has_value_tag(const EntryTags& tags) {
    return tags.mac || tags.phy || tags.exprom;
}

std::string line_number(std::size_t line) {
    return std::to_string(line);
}

// The parts of a line that start where an entry starts reading it: at the line's
// start for the entries already open, after its key for each device it opens.
// No tag can straddle a part's end, and every value closed inside a part but
// the last is closed there by the next key's less-than sign, as on the whole line.
std::vector<std::string_view> parts_of(std::string_view line,
                                       const std::vector<std::size_t>& starts) {
    std::vector<std::string_view> parts;
    std::size_t from = 0;
    for (const std::size_t start : starts) {
        parts.push_back(line.substr(from, start - from));
        from = start;
    }
    parts.push_back(line.substr(from));
    return parts;
}

// One pass over the file, with every device whose entry is open at this line.
class Scan {
  public:
    explicit Scan(UpdateDataCheck& check) : check_(check) {}

    void take(std::size_t number, std::string_view line) {
        const std::string lowered = lowercase_ascii(line);
        const std::vector<DeviceKeyAt> keys =
            is_key_line(line) ? device_keys_in(lowered) : std::vector<DeviceKeyAt>{};
        if (keys.empty() && lowered.find(kPciidMention) != std::string::npos) {
            report_near_miss(number, line);
        }
        std::vector<std::size_t> opened;
        std::vector<std::size_t> starts;
        for (const DeviceKeyAt& key : keys) {
            if (const std::optional<std::size_t> device = list_device(number, key.id)) {
                opened.push_back(*device);
                starts.push_back(key.at + kDeviceKeyLength);
            }
        }
        const std::vector<std::string_view> parts = parts_of(line, starts);
        std::vector<EntryTags> partTags;
        for (const std::string_view part : parts) {
            partTags.push_back(find_entry_tags(part));
        }
        report_parts(number, parts, partTags);
        take_tags(number, opened, partTags);
    }

    // The lookup ends at a line past the cap: the entries still open find nothing.
    void stop_at_long_line(std::size_t number) {
        report(number, "line longer than " + std::to_string(kMaxLineLength >> 20) +
                           " MiB: fwbforge2 stops reading here, so no device whose entry is "
                           "open here or listed after it is found");
        std::vector<bool> dropped(check_.devices.size(), false);
        for (const Cohort& cohort : open_) {
            for (const std::size_t index : cohort.devices) {
                dropped[index] = true;
            }
        }
        std::vector<ListedDevice> kept;
        for (std::size_t index = 0; index < check_.devices.size(); ++index) {
            if (!dropped[index]) {
                kept.push_back(std::move(check_.devices[index]));
            }
        }
        check_.devices = std::move(kept);
        open_.clear();
    }

    void finish() {
        if (!open_.empty()) {
            report(first_open_key_line(),
                   "entry has no <image> before the end of the file: its image name is empty");
            for (const Cohort& cohort : open_) {
                close_cohort(cohort, 0);
            }
            open_.clear();
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
    // Devices whose entry has not met its "<image>" and that so far took the same values.
    struct Cohort {
        std::size_t openedAt;
        std::vector<std::size_t> devices;
        EntryValues values;
        std::size_t macLine = 0;
        std::size_t phyLine = 0;
        bool hasValueTags = false;

        auto taken() const {
            return std::tie(values.macText, values.phyText, values.exprom, macLine, phyLine);
        }
    };

    // The entry that started reading first among those not yet closed by an "<image>".
    struct Reader {
        bool reading = false;
        std::size_t openedAt = 0;
        bool hasValueTags = false;
    };

    std::size_t first_open_key_line() const {
        std::size_t line = SIZE_MAX;
        for (const Cohort& cohort : open_) {
            line = std::min(line, cohort.openedAt);
        }
        return line;
    }

    // An older open entry reads all that a younger one reads, so it holds
    // value tags when any open entry does.
    Reader first_reader() const {
        if (open_.empty()) {
            return {};
        }
        const bool hasValueTags =
            std::any_of(open_.begin(), open_.end(), [](const Cohort& c) { return c.hasValueTags; });
        return {true, first_open_key_line(), hasValueTags};
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

    void report_tags_outside(std::size_t number, std::string_view text) {
        for (const std::string_view tag : kTags) {
            if (has_tag(text, tag)) {
                report(number, std::string(tag) + " outside any entry: no device reads it");
            }
        }
    }

    // The index of a device listed for the first time; a later listing opens nothing.
    std::optional<std::size_t> list_device(std::size_t number, DeviceId id) {
        const auto [listed, inserted] =
            first_listing_.try_emplace(key_of(id), check_.devices.size());
        if (!inserted) {
            report(number, "device listed again; the listing at line " +
                               line_number(check_.devices[listed->second].keyLine) + " wins");
            return std::nullopt;
        }
        ListedDevice device;
        device.id = id;
        device.keyLine = number;
        check_.devices.push_back(device);
        return check_.devices.size() - 1;
    }

    // In line order: what no entry reads, the values taken, and an entry that
    // runs into the next device's key with values and no "<image>" before it.
    void report_parts(std::size_t number, const std::vector<std::string_view>& parts,
                      const std::vector<EntryTags>& partTags) {
        Reader reader = first_reader();
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (i > 0 && reader.reading && reader.hasValueTags) {
                report(reader.openedAt, "entry has no <image> before line " + line_number(number) +
                                            ": it takes the next device's values");
            }
            if (i > 0 && !reader.reading) {
                reader = {true, number, false};
            }
            if (!reader.reading) {
                report_tags_outside(number, parts[i]);
                continue;
            }
            check_values_on(number, partTags[i]);
            reader.hasValueTags = reader.hasValueTags || has_value_tag(partTags[i]);
            reader.reading = !partTags[i].image;
        }
    }

    // The entries already open read the whole line; each one opened here the
    // text after its key.
    void take_tags(std::size_t number, const std::vector<std::size_t>& opened,
                   const std::vector<EntryTags>& partTags) {
        std::vector<EntryTags> readFrom(partTags.size());
        readFrom.back() = partTags.back();
        for (std::size_t i = partTags.size() - 1; i > 0; --i) {
            readFrom[i - 1] = followed_by(partTags[i - 1], readFrom[i]);
        }
        std::vector<Cohort> reading = std::move(open_);
        for (std::size_t j = 0; j < opened.size(); ++j) {
            reading.push_back(Cohort{number, {opened[j]}, {}});
        }
        open_.clear();
        const std::size_t alreadyOpen = reading.size() - opened.size();
        for (std::size_t k = 0; k < reading.size(); ++k) {
            Cohort& cohort = reading[k];
            const EntryTags& tags = readFrom[k < alreadyOpen ? 0 : k - alreadyOpen + 1];
            const EntryValues before = cohort.values;
            const bool ended = take_entry_tags(tags, cohort.values);
            cohort.macLine = cohort.values.macText != before.macText ? number : cohort.macLine;
            cohort.phyLine = cohort.values.phyText != before.phyText ? number : cohort.phyLine;
            cohort.hasValueTags = cohort.hasValueTags || has_value_tag(tags);
            if (ended) {
                close_cohort(cohort, number);
            } else {
                open_.push_back(std::move(cohort));
            }
        }
        merge_alike_cohorts();
    }

    void close_cohort(const Cohort& cohort, std::size_t imageLine) {
        for (const std::size_t index : cohort.devices) {
            ListedDevice& device = check_.devices[index];
            device.values = cohort.values;
            device.macLine = cohort.macLine;
            device.phyLine = cohort.phyLine;
            device.imageLine = imageLine;
        }
    }

    // Cohorts that hold the same values stay alike on every later line, which
    // they read whole, so the work per line stays small however many devices
    // the entries list. Sorted, so many distinct cohorts cost no more than that.
    void merge_alike_cohorts() {
        std::sort(open_.begin(), open_.end(),
                  [](const Cohort& a, const Cohort& b) { return a.taken() < b.taken(); });
        std::vector<Cohort> merged;
        for (Cohort& cohort : open_) {
            if (merged.empty() || merged.back().taken() != cohort.taken()) {
                merged.push_back(std::move(cohort));
                continue;
            }
            Cohort& into = merged.back();
            into.devices.insert(into.devices.end(), cohort.devices.begin(), cohort.devices.end());
            into.openedAt = std::min(into.openedAt, cohort.openedAt);
            into.hasValueTags = into.hasValueTags || cohort.hasValueTags;
        }
        open_ = std::move(merged);
    }

    void check_values_on(std::size_t number, const EntryTags& tags) {
        if (tags.exprom && tags.exprom->text != "True" && tags.exprom->text != "False") {
            report(number, "<exprom> value is neither \"True\" nor \"False\": it switches the "
                           "expansion ROM off");
        }
        if (tags.image && !tags.image->closed_by_less_than) {
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

    UpdateDataCheck& check_;
    std::map<std::uint64_t, std::size_t> first_listing_;
    std::vector<Cohort> open_;
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
    if (reader.line_too_long()) {
        check.lineTooLong = true;
        scan.stop_at_long_line(number + 1);
    }
    scan.finish();
    return PROVKIT_OK;
}
