#include "app/lookup_notes.h"

#include "app/output.h"
#include "common/hex.h"
#include "platform/platform.h"
#include "provisioning_data/device_key.h"

#include <array>

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
    for (const std::string& line : missing_entry_diagnostics(updateData, id)) {
        print_diagnostic(line);
    }
}

void warn_if_exprom_unclear(const EntryValues& values, std::string_view updateData) {
    if (values.expromLine == 0 || values.expromText == "True" || values.expromText == "False") {
        return;
    }
    print_diagnostic("warning: exprom " + c_quoted(values.expromText) + " on line " +
                     std::to_string(values.expromLine) + " of " + std::string(updateData) +
                     " is neither True nor False: it reads as 0, the expansion ROM switched off");
}
