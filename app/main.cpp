// fwbforge2 VID DID SVID SSID updatedata.xml output.fwb
#include "common/board_data.h"
#include "common/device_id.h"
#include "common/hex.h"
#include "common/report.h"
#include "image/provision_file.h"
#include "platform/platform.h"
#include "provisioning_data/board_data_stage.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

constexpr int kUsageStatus = 1;
constexpr int kArgumentCount = 7; // the program name and its six arguments

bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Base-16 text as a 32-bit strtoul reads it (blanks, sign, 0x prefix, stop at
// the first non-digit, saturate past 32 bits), of which a PCI ID keeps 16 bits.
std::uint16_t parse_identifier(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && is_space(text[at])) {
        ++at;
    }
    const bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        ++at;
    }
    const bool has_prefix = at + 2 < text.size() && text[at] == '0' &&
                            (text[at + 1] == 'x' || text[at + 1] == 'X') &&
                            hex_digit_value(text[at + 2]);
    if (has_prefix) {
        at += 2;
    }
    std::uint64_t value = 0;
    bool saturated = false;
    for (; at < text.size() && hex_digit_value(text[at]); ++at) {
        value = value << 4 | *hex_digit_value(text[at]);
        if (value > UINT32_MAX) {
            saturated = true;
            value = UINT32_MAX;
        }
    }
    if (saturated) {
        return UINT16_MAX;
    }
    const auto result = static_cast<std::uint32_t>(negative ? 0 - value : value);
    return static_cast<std::uint16_t>(result);
}

} // namespace

int main(int argc, char** argv) {
    platform::keep_running_on_broken_pipes_and_size_limits();
    if (argc < kArgumentCount) {
        print_text("Usage:: fwbforge2 VID DID SVID SSID updatedata.xml output.fwb\n");
        return kUsageStatus;
    }
    DeviceId id;
    id.vid = parse_identifier(argv[1]);
    id.did = parse_identifier(argv[2]);
    id.svid = parse_identifier(argv[3]);
    id.ssid = parse_identifier(argv[4]);
    const std::string updateDataPath = argv[5];
    const std::string outputPath = argv[6];

    BoardData boardData;
    std::string imageName;
    if (const Status status = readBdp(updateDataPath, id, boardData, imageName);
        status != PROVKIT_OK) {
        print_number_line("fwbforge2: readBdp() returns ", status);
        return status;
    }
    if (const Status status = provisionFile(boardData, imageName, outputPath);
        status != PROVKIT_OK) {
        print_number_line("fwbforge2: provisionFile() returns ", status);
        return status;
    }
    print_line("Custom fwb generated  ", outputPath);
    return PROVKIT_OK;
}
