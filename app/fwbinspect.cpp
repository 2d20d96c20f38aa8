// fwbinspect IMAGE... [--blobs] [--json]
// fwbinspect IMAGE --expect VID DID SVID SSID UPDATEDATA [--base BASE] [--json]
// fwbinspect --diff A B [--json]
// fwbinspect IMAGE --extract DIR
// fwbinspect --update-data FILE [--json]
// fwbinspect --manifest DIR/manifest.json [--update-data FILE] [--base-dir DIR] [--json]
#include "app/command_line.h"
#include "app/inspect_modes.h"
#include "app/manifest_gate.h"
#include "app/output.h"
#include "common/status.h"
#include "platform/platform.h"

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kExpectValues = 5; // VID DID SVID SSID UPDATEDATA
constexpr std::size_t kDiffImages = 2;
constexpr OptionSpec kOptions[] = {flag("--help", "-h"),
                                   flag("--version"),
                                   flag("--json"),
                                   flag("--blobs"),
                                   with_values("--update-data", 1),
                                   with_values("--base", 1),
                                   with_values("--manifest", 1),
                                   with_values("--base-dir", 1),
                                   with_values("--extract", 1),
                                   with_values("--expect", kExpectValues),
                                   with_values("--diff", kDiffImages)};
constexpr std::string_view kUsage =
    "Usage: fwbinspect IMAGE... [--blobs] [--json]\n"
    "       fwbinspect IMAGE --expect VID DID SVID SSID UPDATEDATA [--base BASE | --base-dir DIR]\n"
    "                  [--json]\n"
    "       fwbinspect --diff A B [--json]\n"
    "       fwbinspect IMAGE --extract DIR\n"
    "       fwbinspect --update-data FILE [--json]\n"
    "       fwbinspect --manifest DIR/manifest.json [--update-data FILE] [--base-dir DIR] "
    "[--json]\n"
    "       fwbinspect -h | --help | --version\n"
    "Verifies fwb images' digest chains and BDP tables, checks an image against the one\n"
    "fwbforge2 would write, compares two images, writes an image's blobs to files, or\n"
    "checks an update-data file or a whole batch directory against its manifest.\n";

struct Request {
    bool help = false;
    bool version = false;
    bool json = false;
    bool blobs = false;
    std::vector<std::string> images;
    std::optional<std::string> updateData;
    std::optional<std::vector<std::string>> expect; // VID DID SVID SSID UPDATEDATA
    std::optional<std::string> base;
    std::optional<std::vector<std::string>> diff; // A B
    std::optional<std::string> extract;
    std::optional<std::string> manifest;
    std::optional<std::string> baseDir;
    std::optional<std::string> refusal; // the command line cannot be taken; why, when said
};

// Exactly one mode, with only the options it takes: why not, or nothing. A
// command line with nothing to do has no reason to give beyond the usage.
std::optional<std::string> mode_refusal(const Request& request) {
    // With --manifest, --update-data names the update data the batch is held against.
    const bool checksUpdateData = request.updateData && !request.manifest;
    const int modes = int{checksUpdateData} + int{request.expect.has_value()} +
                      int{request.diff.has_value()} + int{request.extract.has_value()} +
                      int{request.manifest.has_value()};
    if (modes > 1) {
        return "--update-data, --expect, --diff, --extract and --manifest exclude one another";
    }
    if (request.baseDir && !request.manifest && !request.expect) {
        return "--base-dir goes with --manifest or --expect";
    }
    if (request.base && !request.expect) {
        return "--base goes with --expect";
    }
    if (request.base && request.baseDir) {
        return "--base and --base-dir exclude one another";
    }
    if (request.blobs && modes > 0) {
        return "--blobs goes with images alone";
    }
    if ((request.updateData || request.diff || request.manifest) && !request.images.empty()) {
        return "unexpected argument " + request.images.front();
    }
    if ((request.expect || request.extract) && request.images.size() != 1) {
        return std::string(request.expect ? "--expect" : "--extract") + " takes one IMAGE";
    }
    if (request.extract && request.json) {
        return "--extract has no --json";
    }
    if (modes == 0 && request.images.empty()) {
        return "";
    }
    return std::nullopt;
}

Request parse(std::span<const std::string> args) {
    const ParsedArguments parsed = parse_arguments(args, kOptions);
    Request request;
    request.help = parsed.has("--help");
    request.version = parsed.has("--version");
    request.json = parsed.asksForJson;
    request.blobs = parsed.has("--blobs");
    request.images = parsed.positional;
    request.updateData = parsed.value_of("--update-data");
    request.expect = parsed.values_of("--expect");
    request.base = parsed.value_of("--base");
    request.diff = parsed.values_of("--diff");
    request.extract = parsed.value_of("--extract");
    request.manifest = parsed.value_of("--manifest");
    request.baseDir = parsed.value_of("--base-dir");
    if (!parsed.refusal.empty()) {
        request.refusal = parsed.refusal;
    } else if (!request.help && !request.version) {
        request.refusal = mode_refusal(request);
    }
    return request;
}

int run(const Request& request) {
    if (request.manifest) {
        return check_batch({*request.manifest, request.updateData, request.baseDir, request.json});
    }
    if (request.updateData) {
        return check_update_data_file(*request.updateData, request.json);
    }
    if (request.diff) {
        return diff_images((*request.diff)[0], (*request.diff)[1], request.json);
    }
    if (request.extract) {
        return extract_blobs(request.images.front(), *request.extract);
    }
    if (request.expect) {
        const std::vector<std::string>& values = *request.expect;
        return expect_image({request.images.front(),
                             {values[0], values[1], values[2], values[3]},
                             values[4],
                             request.base,
                             request.json,
                             request.baseDir});
    }
    return inspect_images(request.images, request.blobs, request.json);
}

} // namespace

int main(int argc, char** argv) {
    set_program_name("fwbinspect");
    platform::fill_closed_standard_streams();
    platform::use_binary_standard_streams();
    const std::vector<std::string> args = platform::command_line_arguments(argc, argv);
    const Request request = parse(std::span(args).subspan(1));
    if (request.refusal) {
        return refuse_command_line(*request.refusal, kUsage, request.json);
    }
    if (request.help || request.version) {
        print_text(request.help ? std::string(kUsage) : version_text());
        return PROVKIT_OK;
    }
    return run(request);
}
