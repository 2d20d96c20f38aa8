#include "provisioning_data/board_data_stage.h"

#include "common/hex.h"
#include "common/report.h"
#include "provisioning_data/device_key.h"
#include "provisioning_data/update_data.h"

#include <algorithm>
#include <optional>

namespace {

// Update data holds many blob texts: a check without branches a character,
// which the compiler turns into whole-register steps, keeps them cheap.
// 0-9, a-f and A-F, as hex_digit_value has them (a tested equivalence).
bool all_hex_digits(std::string_view text) {
    std::uint8_t notHex = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool digit = static_cast<unsigned char>(byte - '0') < 10;
        const bool letter = static_cast<unsigned char>((byte | 0x20) - 'a') < 6;
        notHex = static_cast<std::uint8_t>(notHex | ((digit || letter) ? 0 : 1));
    }
    return notHex == 0;
}

void print_blob_failure(const BlobRefusal& refusal) {
    switch (refusal.status) {
    case PROVKIT_ERR_ODD_HEX:
        print_line("fwbforge2: Odd ", refusal.blobName);
        break;
    case PROVKIT_ERR_BAD_HEX:
        print_line("fwbforge2: Bad ", refusal.blobName);
        break;
    default:
        print_line("fwbforge2: Long ", refusal.blobName);
        break;
    }
}

Status decode_blob(std::string_view text, std::array<std::uint8_t, kBlobCapacity>& blob,
                   std::uint32_t& length) {
    const Status status = string_to_databuff(text, blob);
    if (status == PROVKIT_OK) {
        length = static_cast<std::uint32_t>(text.size() / 2);
    }
    return status;
}

} // namespace

Status check_hex_text(std::string_view text, std::size_t capacity) {
    if (text.size() % 2 != 0) {
        return PROVKIT_ERR_ODD_HEX;
    }
    if (!all_hex_digits(text)) {
        return PROVKIT_ERR_BAD_HEX;
    }
    if (text.size() / 2 > capacity) {
        return PROVKIT_ERR_DATA;
    }
    return PROVKIT_OK;
}

Status string_to_databuff(std::string_view text, std::span<std::uint8_t> destination) {
    if (const Status checked = check_hex_text(text, destination.size()); checked != PROVKIT_OK) {
        return checked;
    }
    for (std::size_t pair = 0; pair < text.size() / 2; ++pair) {
        const std::uint8_t high = *hex_digit_value(text[2 * pair]);
        const std::uint8_t low = *hex_digit_value(text[2 * pair + 1]);
        destination[pair] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return PROVKIT_OK;
}

EntryLookup find_device_entry(std::string_view path, DeviceId id, EntryValues& values,
                              platform::Error& error) {
    return look_up_entry(format_device_key(id), path, values, error);
}

BlobRefusal decode_entry(const EntryValues& values, BoardData& boardData) {
    // The MAC blob is stored before the PHY text is looked at.
    if (const Status mac = decode_blob(values.macText, boardData.macBdp, boardData.macBdpLen);
        mac != PROVKIT_OK) {
        return {mac, kMacBlobName};
    }
    if (const Status phy = decode_blob(values.phyText, boardData.phyBdp, boardData.phyBdpLen);
        phy != PROVKIT_OK) {
        return {phy, kPhyBlobName};
    }
    boardData.exprom = values.exprom;
    return {};
}

Status find_board_entry(std::string_view path, DeviceId id, EntryValues& values) {
    platform::Error error;
    const EntryLookup lookup = find_device_entry(path, id, values, error);
    if (lookup == EntryLookup::found) {
        return PROVKIT_OK;
    }
    const Status found = report_lookup(lookup, path);
    print_number_line("fwbforge2: get_xml_data() returns ", found);
    return found;
}

Status report_board_data(const EntryValues& values, const BlobRefusal& refusal) {
    print_number_line("exprom        :", values.exprom);
    print_line("Image Name    :", values.imageName);
    if (refusal.status != PROVKIT_OK) {
        print_blob_failure(refusal);
    }
    return refusal.status;
}

Status take_board_data(const EntryValues& values, BoardData& boardData, std::string& imageName) {
    imageName = values.imageName;
    return report_board_data(values, decode_entry(values, boardData));
}

Status readBdp(std::string_view path, DeviceId id, BoardData& boardData, std::string& imageName) {
    EntryValues values;
    const Status found = find_board_entry(path, id, values);
    return found != PROVKIT_OK ? found : take_board_data(values, boardData, imageName);
}
