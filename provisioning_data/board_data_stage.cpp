#include "provisioning_data/board_data_stage.h"

#include "common/hex.h"
#include "common/report.h"
#include "provisioning_data/device_key.h"
#include "provisioning_data/update_data.h"

#include <algorithm>
#include <optional>

namespace {

bool all_hex_digits(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return hex_digit_value(c).has_value(); });
}

void print_blob_failure(Status status, std::string_view blob_name) {
    switch (status) {
    case PROVKIT_ERR_ODD_HEX:
        print_line("fwbforge2: Odd ", blob_name);
        break;
    case PROVKIT_ERR_BAD_HEX:
        print_line("fwbforge2: Bad ", blob_name);
        break;
    default:
        print_line("fwbforge2: Long ", blob_name);
        break;
    }
}

Status decode_blob(std::string_view text, std::string_view blob_name,
                   std::array<std::uint8_t, kBlobCapacity>& blob, std::uint32_t& length) {
    const Status status = string_to_databuff(text, blob);
    if (status != PROVKIT_OK) {
        print_blob_failure(status, blob_name);
        return status;
    }
    length = static_cast<std::uint32_t>(text.size() / 2);
    return PROVKIT_OK;
}

} // namespace

Status string_to_databuff(std::string_view text, std::span<std::uint8_t> destination) {
    if (text.size() % 2 != 0) {
        return PROVKIT_ERR_ODD_HEX;
    }
    if (!all_hex_digits(text)) {
        return PROVKIT_ERR_BAD_HEX;
    }
    if (text.size() / 2 > destination.size()) {
        return PROVKIT_ERR_DATA;
    }
    for (std::size_t pair = 0; pair < text.size() / 2; ++pair) {
        const std::uint8_t high = *hex_digit_value(text[2 * pair]);
        const std::uint8_t low = *hex_digit_value(text[2 * pair + 1]);
        destination[pair] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return PROVKIT_OK;
}

Status take_board_data(const EntryValues& values, BoardData& boardData, std::string& imageName) {
    print_number_line("exprom        :", values.exprom);
    print_line("Image Name    :", values.imageName);
    imageName = values.imageName;

    // The MAC blob is stored before the PHY text is looked at.
    if (const Status mac =
            decode_blob(values.macText, "mac_string", boardData.macBdp, boardData.macBdpLen);
        mac != PROVKIT_OK) {
        return mac;
    }
    if (const Status phy =
            decode_blob(values.phyText, "phy_string", boardData.phyBdp, boardData.phyBdpLen);
        phy != PROVKIT_OK) {
        return phy;
    }
    boardData.exprom = values.exprom;
    return PROVKIT_OK;
}

Status find_board_entry(std::string_view path, DeviceId id, EntryValues& values) {
    const Status found = get_xml_data(format_device_key(id), path, values.macText, values.phyText,
                                      values.imageName, values.exprom);
    if (found != PROVKIT_OK) {
        print_number_line("fwbforge2: get_xml_data() returns ", found);
    }
    return found;
}

Status readBdp(std::string_view path, DeviceId id, BoardData& boardData, std::string& imageName) {
    EntryValues values;
    const Status found = find_board_entry(path, id, values);
    return found != PROVKIT_OK ? found : take_board_data(values, boardData, imageName);
}
