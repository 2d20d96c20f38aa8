// The update-data scanner and the board-data stage on arbitrary file bytes, for
// a fixed device and for one whose key the input supplies; and the checker, which
// must list exactly the devices the scanner finds, with what the values it takes give.
#include "fuzz/harness.h"
#include "provisioning_data/board_data_stage.h"
#include "provisioning_data/device_key.h"
#include "provisioning_data/update_data.h"
#include "provisioning_data/update_data_check.h"

#include <algorithm>

namespace {

constexpr std::size_t kDevicesCompared = 16;

DeviceId id_from(const std::uint8_t* data, std::size_t size) {
    DeviceId id;
    if (size >= 8) {
        id.vid = static_cast<std::uint16_t>(data[0] | data[1] << 8);
        id.did = static_cast<std::uint16_t>(data[2] | data[3] << 8);
        id.svid = static_cast<std::uint16_t>(data[4] | data[5] << 8);
        id.ssid = static_cast<std::uint16_t>(data[6] | data[7] << 8);
    }
    return id;
}

bool same_device(DeviceId a, DeviceId b) {
    return a.vid == b.vid && a.did == b.did && a.svid == b.svid && a.ssid == b.ssid;
}

void run_board_data_stage(const std::string& path, DeviceId id, bool listed) {
    const Result<EntryValues> found = get_xml_data(format_device_key(id), path);
    FUZZ_CHECK(listed ? static_cast<bool>(found) : found.error().check == Check::no_entry);
    const BoardDataStage stage = readBdp(path, id);
    FUZZ_CHECK(stage.entry.has_value() == listed);
    const Status status = stage.failure.status;
    FUZZ_CHECK(status == PROVKIT_OK || status == PROVKIT_ERR_ODD_HEX ||
               status == PROVKIT_ERR_BAD_HEX || status == PROVKIT_ERR_DATA);
    if (status == PROVKIT_OK) {
        FUZZ_CHECK(stage.entry->imageName == found->imageName &&
                   stage.boardData.exprom == found->exprom);
        FUZZ_CHECK(2 * stage.boardData.macBdpLen == found->macText.size() &&
                   2 * stage.boardData.phyBdpLen == found->phyText.size());
    }
}

std::optional<std::uint16_t> decoded_length(std::string_view text) {
    std::array<std::uint8_t, kBlobCapacity> blob{};
    if (!string_to_databuff(text, blob)) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(text.size() / 2);
}

void compare_with_scanner(const std::string& path, const ListedDevice& device,
                          const EntryValues& values) {
    const Result<EntryValues> scanned = get_xml_data(format_device_key(device.id), path);
    FUZZ_CHECK(static_cast<bool>(scanned));
    const EntryValues& found = *scanned;
    FUZZ_CHECK(found.macText == values.macText && found.phyText == values.phyText &&
               found.imageName == values.imageName && found.exprom == values.exprom);
    FUZZ_CHECK(decoded_length(found.macText) == device.macBytes &&
               decoded_length(found.phyText) == device.phyBytes &&
               found.imageName == device.imageName && found.exprom == device.exprom);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzz::write_scratch_file("update.xml", fuzz::text_of(data, size));
    UpdateDataCheck check;
    FUZZ_CHECK(check_update_data(path, check, {.keepValues = true}));
    FUZZ_CHECK(check.values.size() == check.devices.size());
    for (std::size_t i = 0; i < std::min(check.devices.size(), kDevicesCompared); ++i) {
        compare_with_scanner(path, check.devices[i], *check.values[i]);
    }
    for (const DeviceId id : {DeviceId{0x0a01, 0xfb2f, 0xfb2f, 0x0001}, id_from(data, size)}) {
        const bool listed =
            std::any_of(check.devices.begin(), check.devices.end(),
                        [&](const ListedDevice& device) { return same_device(device.id, id); });
        run_board_data_stage(path, id, listed);
    }
    return 0;
}
