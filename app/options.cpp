#include "app/options.h"

namespace {

constexpr std::string_view kHelp =
    "Usage:: fwbforge2 VID DID SVID SSID updatedata.xml output.fwb\n"
    "        fwbforge2 --all updatedata.xml outdir\n"
    "Writes a PCI device's board data into its firmware image.\n"
    "\n"
    "  --all          one image for every device the update data lists, as\n"
    "                 outdir/VVVV-DDDD-SSSS-IIII.fwb, then outdir/manifest.json\n"
    "  --json         print one JSON object instead of the progress and closing\n"
    "                 lines (with --all, the manifest)\n"
    "  --record FILE  append the run to FILE as one JSON line (with --all, one\n"
    "                 line per device), under a lock\n"
    "  --dry-run      every check of the run, nothing written; name each output\n"
    "                 and the SHA-256 it would have\n"
    "  --help         print this text\n"
    "  --version      print the version\n"
    "  --             end the options: what follows is positional\n";

} // namespace

std::optional<Options> parse_options(std::span<const std::string> arguments) {
    Options options;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (optionsEnded || !argument.starts_with("--")) {
            options.positional.emplace_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else if (argument == "--all") {
            options.all = true;
        } else if (argument == "--json") {
            options.json = true;
        } else if (argument == "--dry-run") {
            options.dryRun = true;
        } else if (argument == "--record" && i + 1 < arguments.size() &&
                   !arguments[i + 1].starts_with("--")) {
            // An option, or a mistyped one, is not taken for the record's name.
            options.record = arguments[++i];
        } else {
            return std::nullopt;
        }
    }
    return options;
}

std::string_view help_text() {
    return kHelp;
}

std::string_view tool_version() {
    return FWBFORGE2_VERSION;
}

std::string version_text() {
    return "fwbforge2 " + std::string(tool_version()) + "\n";
}
