#include "app/options.h"

#include "app/command_line.h"

namespace {

constexpr OptionSpec kOptions[] = {
    flag("--help", "-h"),     flag("--version"),           flag("--all"),
    flag("--json"),           flag("--dry-run"),           with_values("--record", 1),
    with_values("--only", 1), with_values("--base-dir", 1)};

constexpr std::string_view kUsagePrefix = "Usage:: ";

constexpr std::string_view kHelpBody =
    "Writes a PCI device's board data into its firmware image.\n"
    "\n"
    "  --all          one image for every device the update data lists, as\n"
    "                 outdir/VVVV-DDDD-SSSS-IIII.fwb, then outdir/manifest.json\n"
    "  --json         print one JSON object instead of the progress and closing\n"
    "                 lines (with --all, the manifest)\n"
    "  --record FILE  append the run to FILE as one JSON line (with --all, one\n"
    "                 line per device), under a lock\n"
    "  --only LIST    with --all, only these devices: vvvv-dddd-ssss-iiii names,\n"
    "                 comma-separated, or @FILE with one a line\n"
    "  --dry-run      every check of the run, nothing written; name each output\n"
    "                 and the SHA-256 it would have\n"
    "  --base-dir DIR take the entry's base-image name relative to DIR rather than\n"
    "                 the working directory (an absolute name stays as it is)\n"
    "  -h, --help     print this text\n"
    "  --version      print the version\n"
    "  --             end the options: what follows is positional\n";

} // namespace

Options parse_options(std::span<const std::string> arguments) {
    const ParsedArguments parsed = parse_arguments(arguments, kOptions);
    Options options;
    options.help = parsed.has("--help");
    options.version = parsed.has("--version");
    options.all = parsed.has("--all");
    options.json = parsed.asksForJson;
    options.dryRun = parsed.has("--dry-run");
    options.record = parsed.value_of("--record");
    options.only = parsed.value_of("--only");
    options.baseDir = parsed.value_of("--base-dir");
    options.positional = parsed.positional;
    options.refusal = parsed.refusal;
    return options;
}

std::string help_text() {
    const std::string_view batchUsage = kBatchUsageLine.substr(kUsagePrefix.size());
    return std::string(kUsageLine) + std::string(kUsagePrefix.size(), ' ') +
           std::string(batchUsage) + std::string(kHelpBody);
}
