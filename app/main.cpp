// fwbforge2 VID DID SVID SSID updatedata.xml output.fwb
#include "common/board_data.h"
#include "common/device_id.h"
#include "common/report.h"
#include "image/provision_file.h"
#include "platform/platform.h"
#include "provisioning_data/board_data_stage.h"
#include "provisioning_data/device_key.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kCommandLineStatus = 1;
constexpr std::size_t kArgumentCount = 7; // the program name and its six arguments

// False, with the refusal printed, when the identifier does not fit 16 bits.
bool read_identifier(std::string_view name, std::string_view argument, std::uint16_t& field) {
    const std::optional<std::uint16_t> value = parse_identifier(argument);
    if (!value) {
        print_line("fwbforge2: Bad " + std::string(name) + " ", argument);
        return false;
    }
    field = *value;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    platform::fill_closed_standard_streams();
    platform::use_binary_standard_streams();
    platform::keep_running_on_broken_pipes_and_size_limits();
    const std::vector<std::string> args = platform::command_line_arguments(argc, argv);
    if (args.size() < kArgumentCount) {
        print_text("Usage:: fwbforge2 VID DID SVID SSID updatedata.xml output.fwb\n");
        return kCommandLineStatus;
    }
    DeviceId id;
    // In argument order, so a refusal names the first bad one; before any file is opened.
    if (!read_identifier("VID", args[1], id.vid) || !read_identifier("DID", args[2], id.did) ||
        !read_identifier("SVID", args[3], id.svid) || !read_identifier("SSID", args[4], id.ssid)) {
        return kCommandLineStatus;
    }
    const std::string updateDataPath = args[5];
    const std::string outputPath = args[6];

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
