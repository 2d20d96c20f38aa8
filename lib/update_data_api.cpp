#include "lib/api_support.h"
#include "provisioning_data/update_data_check.h"

namespace fwbforge2 {

namespace {

ListedEntry listed(const ::ListedDevice& device) {
    ListedEntry entry;
    entry.device = public_id(device.id);
    entry.key_line = device.keyLine;
    entry.image_line = device.imageLine;
    entry.mac_length = device.macBytes;
    entry.phy_length = device.phyBytes;
    entry.exprom = device.exprom;
    entry.image_name = device.imageName;
    return entry;
}

Error unreadable(std::string_view path, const Failure& failure) {
    return error_of(failure.status, unreadable_update_data_lines(path, failure.reason),
                    kInspectProgram);
}

} // namespace

Result<std::vector<ListedEntry>> entries(std::string_view updateData) {
    ::UpdateDataCheck check;
    if (const ::Result<> read = ::check_update_data(updateData, check); !read) {
        // fwbforge2 --all gives the line without the reason.
        return Error{
            read.error().status,
            message_lines(
                {unreadable_update_data_lines(updateData, read.error().reason).printed, {}},
                kForgeProgram)};
    }
    std::vector<ListedEntry> listedEntries;
    listedEntries.reserve(check.devices.size());
    for (const ::ListedDevice& device : check.devices) {
        listedEntries.push_back(listed(device));
    }
    return listedEntries;
}

Result<UpdateDataCheck> check_update_data(std::string_view updateData) {
    ::UpdateDataCheck check;
    if (const ::Result<> read = ::check_update_data(updateData, check); !read) {
        return unreadable(updateData, read.error());
    }
    UpdateDataCheck result;
    result.devices = check.devices.size();
    result.line_too_long = check.lineTooLong;
    result.findings.reserve(check.findings.size());
    for (const ::Finding& finding : check.findings) {
        result.findings.push_back({finding.line, std::string(finding.message)});
    }
    return result;
}

} // namespace fwbforge2
