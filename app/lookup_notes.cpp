#include "app/lookup_notes.h"

#include "app/output.h"
#include "common/hex.h"
#include "platform/platform.h"
#include "provisioning_data/device_key.h"
#include "provisioning_data/near_miss.h"

#include <array>

namespace {

std::string identifiers_text(DeviceId id) {
    return "vid=" + hex16(id.vid) + " did=" + hex16(id.did) + " svid=" + hex16(id.svid) +
           " ssid=" + hex16(id.ssid);
}

} // namespace

void note_identifiers_read_as(std::span<const std::string> given, DeviceId id) {
    static constexpr std::array<std::string_view, 4> kNames = {"VID", "DID", "SVID", "SSID"};
    const std::array<std::uint16_t, 4> values = {id.vid, id.did, id.svid, id.ssid};
    for (std::size_t k = 0; k < kNames.size() && k < given.size(); ++k) {
        if (identifier_leaves_text(given[k])) {
            print_diagnostic(std::string(kNames[k]) + " " + c_quoted(given[k]) + " was read as " +
                             hex16(values[k]));
        }
    }
}

void explain_missing_entry(std::string_view updateData, DeviceId id) {
    print_diagnostic("no entry for " + identifiers_text(id) + " in " + std::string(updateData));
    const std::optional<NearMiss> near = find_near_miss(updateData, id);
    if (!near) {
        return;
    }
    std::string differences;
    for (const std::string_view difference : near->differences) {
        differences.append(differences.empty() ? "" : ", ").append(difference);
    }
    print_diagnostic("line " + std::to_string(near->line) +
                     " names the device in a form the lookup does not read (" + differences +
                     "); fwbdata normalize writes the form it reads");
}

void warn_if_exprom_unclear(const EntryValues& values, std::string_view updateData) {
    if (values.expromLine == 0 || values.expromText == "True" || values.expromText == "False") {
        return;
    }
    print_diagnostic("warning: exprom " + c_quoted(values.expromText) + " on line " +
                     std::to_string(values.expromLine) + " of " + std::string(updateData) +
                     " is neither True nor False: it reads as 0, the expansion ROM switched off");
}

std::string base_image_path(const std::optional<std::string>& baseDir, std::string_view imageName) {
    if (!baseDir || platform::is_absolute(imageName)) {
        return std::string(imageName);
    }
    return platform::joined_path(*baseDir, imageName);
}
