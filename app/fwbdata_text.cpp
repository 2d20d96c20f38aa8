#include "app/fwbdata_text.h"

#include "common/board_data.h"
#include "common/hex.h"
#include "lib/failure_text.h"
#include "provisioning_data/update_data_writer.h"

namespace {

std::string where(const Failure& failure, std::string_view input) {
    const InputPlace& place = failure.place;
    std::string text(input);
    if (place.line != 0) {
        text.append(":").append(std::to_string(place.line));
        if (place.column != 0) {
            text.append(":").append(std::to_string(place.column));
        }
    }
    text += ": ";
    if (place.device) {
        const DeviceId id = *place.device;
        text += "device vid=" + hex16(id.vid) + " did=" + hex16(id.did) +
                " svid=" + hex16(id.svid) + " ssid=" + hex16(id.ssid) + ": ";
    }
    return text;
}

std::string what(const Failure& failure, std::string_view output) {
    const std::string subject(failure.subject);
    switch (failure.check) {
    case Check::not_well_formed:
        return "not well-formed: " + subject;
    case Check::column_missing:
        return "the header row has no column " + subject;
    case Check::column_repeated:
        return "the header row names the column " + subject + " twice";
    case Check::identifier_unwritable:
        return subject + " is not one to four hexadecimal digits";
    case Check::odd_hex:
        return subject + " has an odd number of hexadecimal digits";
    case Check::bad_hex:
        return subject + " holds a character that is not a hexadecimal digit";
    case Check::long_hex:
        return subject + " is longer than the " + std::to_string(kBlobCapacity) +
               " bytes an image's board data takes";
    case Check::value_holds_less_than:
        return subject + " holds a '<', where fwbforge2 ends the value";
    case Check::value_holds_line_feed:
        return subject + " holds a line break or a NUL, which fwbforge2 cannot read in a value";
    case Check::value_too_long:
        return subject + " is longer than " +
               std::to_string(subject == kImageField ? kMaxImageName : kMaxBlobText) +
               " characters";
    case Check::exprom_unwritable:
        return "exprom is neither True nor False";
    case Check::entry_unclosed:
        return "the entry ends with no image";
    case Check::device_conflict:
        return "listed again with other values than on line " +
               std::to_string(failure.place.firstLine);
    case Check::value_unread:
        return "does not read back from " + std::string(output) + " as it was meant";
    default:
        return {};
    }
}

} // namespace

std::string data_diagnostic(const Failure& failure, std::string_view input,
                            std::string_view output) {
    const std::string words = what(failure, output);
    if (!words.empty()) {
        return where(failure, input) + words;
    }
    const std::string system = diagnostic_of(failure);
    if (!system.empty()) {
        return system;
    }
    if (failure.check == Check::update_data_unreadable) {
        return "cannot read " + failure.path + ": " + failure.reason.reason();
    }
    return "cannot convert " + std::string(input);
}
