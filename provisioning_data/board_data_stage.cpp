#include "provisioning_data/board_data_stage.h"

#include "common/hex.h"
#include "provisioning_data/device_key.h"
#include "provisioning_data/update_data.h"

#include <algorithm>
#include <optional>

namespace {

bool all_hex_digits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return hex_digit_value(c); });
}

Result<> decode_blob(std::string_view text, std::string_view name,
                     std::array<std::uint8_t, kBlobCapacity>& blob, std::uint32_t& length) {
    Result<> decoded = string_to_databuff(text, blob);
    if (!decoded) {
        Failure failure = decoded.error();
        failure.subject = name;
        return failure;
    }
    length = static_cast<std::uint32_t>(text.size() / 2);
    return {};
}

} // namespace

Result<> check_hex_text(std::string_view text, std::size_t capacity) {
    if (text.size() % 2 != 0) {
        return failure_of(PROVKIT_ERR_ODD_HEX, Check::odd_hex);
    }
    if (!all_hex_digits(text)) {
        return failure_of(PROVKIT_ERR_BAD_HEX, Check::bad_hex);
    }
    if (text.size() / 2 > capacity) {
        return failure_of(PROVKIT_ERR_DATA, Check::long_hex);
    }
    return {};
}

Result<> string_to_databuff(std::string_view text, std::span<std::uint8_t> destination) {
    if (Result<> checked = check_hex_text(text, destination.size()); !checked) {
        return checked;
    }
    for (std::size_t pair = 0; pair < text.size() / 2; ++pair) {
        const std::uint8_t high = *hex_digit_value(text[2 * pair]);
        const std::uint8_t low = *hex_digit_value(text[2 * pair + 1]);
        destination[pair] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return {};
}

Result<BoardData> decode_board_data(const EntryValues& values) {
    BoardData boardData;
    // The MAC blob is stored before the PHY text is looked at.
    if (Result<> mac =
            decode_blob(values.macText, kMacBlobName, boardData.macBdp, boardData.macBdpLen);
        !mac) {
        return mac.error();
    }
    if (Result<> phy =
            decode_blob(values.phyText, kPhyBlobName, boardData.phyBdp, boardData.phyBdpLen);
        !phy) {
        return phy.error();
    }
    boardData.exprom = values.exprom;
    return boardData;
}

BoardDataStage readBdp(std::string_view path, DeviceId id, std::optional<DigestValue>* fileDigest) {
    BoardDataStage stage;
    Result<EntryValues> entry = get_xml_data(format_device_key(id), path, fileDigest);
    if (!entry) {
        stage.failure = entry.error();
        return stage;
    }
    stage.entry = std::move(*entry);
    Result<BoardData> decoded = decode_board_data(*stage.entry);
    if (!decoded) {
        stage.failure = decoded.error();
        return stage;
    }
    stage.boardData = *decoded;
    return stage;
}
