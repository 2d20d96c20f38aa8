#include "app/selection.h"

#include "common/hex.h"
#include "platform/platform.h"
#include "provisioning_data/line_reader.h"

#include <algorithm>
#include <array>
#include <unordered_set>

namespace {

constexpr std::size_t kNameLength = 19; // four groups of four and three dashes
constexpr std::size_t kLineSlack = 64;  // blanks around a name

// Four hex digits' value, or none.
std::optional<std::uint16_t> hex_value(std::string_view digits) {
    std::uint16_t value = 0;
    for (const char c : digits) {
        const std::optional<std::uint8_t> digit = hex_digit_value(c);
        if (!digit) {
            return std::nullopt;
        }
        value = static_cast<std::uint16_t>(value * 16 + *digit);
    }
    return value;
}

std::string_view trimmed(std::string_view text) {
    const std::size_t from = text.find_first_not_of(" \t\r");
    if (from == std::string_view::npos) {
        return {};
    }
    return text.substr(from, text.find_last_not_of(" \t\r") - from + 1);
}

// Adds name to selection, or says why it cannot be.
bool add_name(Selection& selection, std::string_view name) {
    const std::optional<DeviceId> id = parse_device_name(name);
    if (!id) {
        selection.status = PROVKIT_ERR_USAGE;
        selection.line = "Not a device name (vvvv-dddd-ssss-iiii) " + std::string(name);
        return false;
    }
    if (std::find(selection.devices.begin(), selection.devices.end(), *id) ==
        selection.devices.end()) {
        selection.devices.push_back(*id);
    }
    return true;
}

Selection read_names_file(std::string_view path) {
    Selection selection;
    platform::File file;
    platform::Error error = platform::open_for_reading_without_waiting(path, file);
    if (!error.failed()) {
        LineReader lines(file, kNameLength + kLineSlack);
        std::string_view line;
        while (lines.next_view(line)) {
            const std::string_view name = trimmed(line.substr(0, line.find('\n')));
            if (!name.empty() && !add_name(selection, name)) {
                return selection;
            }
        }
        error = lines.error();
        if (lines.line_too_long()) {
            selection.status = PROVKIT_ERR_USAGE;
            selection.line =
                "Not a device name (vvvv-dddd-ssss-iiii) on a line of " + std::string(path);
            return selection;
        }
    }
    if (error.failed()) {
        selection.status = PROVKIT_ERR_FILE;
        selection.line = "Unable to open file! " + std::string(path);
        selection.reason = error.reason();
    }
    return selection;
}

} // namespace

std::string device_name(DeviceId id) {
    return hex16(id.vid) + "-" + hex16(id.did) + "-" + hex16(id.svid) + "-" + hex16(id.ssid);
}

std::optional<DeviceId> parse_device_name(std::string_view name) {
    if (name.size() != kNameLength) {
        return std::nullopt;
    }
    std::array<std::uint16_t, 4> parts{};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::optional<std::uint16_t> value = hex_value(name.substr(i * 5, 4));
        if (!value || (i < 3 && name[i * 5 + 4] != '-')) {
            return std::nullopt;
        }
        parts[i] = *value;
    }
    return DeviceId{.did = parts[1], .vid = parts[0], .svid = parts[2], .ssid = parts[3]};
}

Selection read_selection(std::string_view given) {
    if (given.starts_with('@')) {
        return read_names_file(given.substr(1));
    }
    Selection selection;
    for (std::string_view rest = given;;) {
        const std::size_t end = std::min(rest.find(','), rest.size());
        if (!add_name(selection, trimmed(rest.substr(0, end))) || end == rest.size()) {
            break;
        }
        rest.remove_prefix(end + 1);
    }
    return selection;
}

std::vector<DeviceId> keep_selected(UpdateDataCheck& check, std::span<const DeviceId> selected) {
    std::unordered_set<std::uint64_t> wanted;
    for (const DeviceId id : selected) {
        wanted.insert(device_key(id));
    }
    std::unordered_set<std::uint64_t> listed;
    std::deque<ListedDevice> devices;
    std::deque<std::shared_ptr<const EntryValues>> values;
    for (std::size_t i = 0; i < check.devices.size(); ++i) {
        listed.insert(device_key(check.devices[i].id));
        if (wanted.contains(device_key(check.devices[i].id))) {
            devices.push_back(check.devices[i]);
            values.push_back(check.values[i]);
        }
    }
    check.devices = std::move(devices);
    check.values = std::move(values);
    std::vector<DeviceId> missing;
    for (const DeviceId id : selected) {
        if (!listed.contains(device_key(id))) {
            missing.push_back(id);
        }
    }
    return missing;
}
