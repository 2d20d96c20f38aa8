// fwbinspect IMAGE [--blobs] [--json]
// fwbinspect --update-data FILE [--json]
#include "app/reports.h"
#include "common/report.h"
#include "common/status.h"
#include "image/image_inspection.h"
#include "platform/platform.h"
#include "provisioning_data/update_data_check.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kUsageStatus = 1;
constexpr std::string_view kUsage =
    "Usage: fwbinspect IMAGE [--blobs] [--json]\n"
    "       fwbinspect --update-data FILE [--json]\n"
    "Verifies a fwb image's digest chain and BDP table, or checks an update-data file.\n";

struct Request {
    bool help = false;
    bool json = false;
    bool blobs = false;
    std::optional<std::string> updateData;
    std::optional<std::string> image;
};

std::optional<Request> parse(const std::vector<std::string_view>& args) {
    Request request;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help") {
            request.help = true;
        } else if (arg == "--json") {
            request.json = true;
        } else if (arg == "--blobs") {
            request.blobs = true;
        } else if (arg == "--update-data" && i + 1 < args.size() && !request.updateData) {
            request.updateData = std::string(args[++i]);
        } else if (!arg.starts_with("--") && !request.image) {
            request.image = std::string(arg);
        } else {
            return std::nullopt;
        }
    }
    const bool oneJob = request.image.has_value() != request.updateData.has_value();
    if (!request.help && (!oneJob || (request.updateData && request.blobs))) {
        return std::nullopt;
    }
    return request;
}

void print_json(const nlohmann::json& report) {
    print_text(report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
}

bool read_whole_file(const std::string& path, std::vector<std::uint8_t>& bytes) {
    platform::File file;
    platform::FileInfo info;
    if (platform::open_for_reading(path, file).failed() || platform::info_of(file, info).failed() ||
        info.kind != platform::FileKind::regular) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(info.size));
    std::size_t got = 0;
    if (platform::read_fully(file, bytes, got).failed()) {
        return false;
    }
    bytes.resize(got);
    return true;
}

int inspect_image_file(const std::string& path, const Request& request) {
    std::vector<std::uint8_t> image;
    if (!read_whole_file(path, image)) {
        print_line("Unable to read fwb ", path);
        return PROVKIT_ERR_FILE;
    }
    const ImageInspection inspection = inspect_image(image);
    if (request.json) {
        print_json(image_report_json(path, inspection, request.blobs));
    } else {
        print_text(image_report_text(path, inspection, request.blobs));
    }
    return inspection.verified() ? PROVKIT_OK : PROVKIT_ERR_DATA;
}

int check_update_data_file(const std::string& path, const Request& request) {
    UpdateDataCheck check;
    if (check_update_data(path, check) != PROVKIT_OK) {
        print_line("Unable to open file! ", path);
        return PROVKIT_ERR_FILE;
    }
    if (request.json) {
        print_json(update_data_report_json(path, check));
    } else {
        print_text(update_data_report_text(check));
    }
    return check.findings.empty() ? PROVKIT_OK : PROVKIT_ERR_DATA;
}

} // namespace

int main(int argc, char** argv) {
    platform::fill_closed_standard_streams();
    platform::use_binary_standard_streams();
    const std::vector<std::string> args = platform::command_line_arguments(argc, argv);
    const std::optional<Request> request =
        parse(std::vector<std::string_view>(args.begin() + 1, args.end()));
    if (!request || request->help) {
        print_text(kUsage);
        return request ? PROVKIT_OK : kUsageStatus;
    }
    return request->image ? inspect_image_file(*request->image, *request)
                          : check_update_data_file(*request->updateData, *request);
}
