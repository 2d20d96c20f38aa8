#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// fwbforge2's command line: options wherever they stand, up to "--"; the rest positional.
struct Options {
    bool help = false;
    bool version = false;
    bool all = false;
    bool json = false;
    bool dryRun = false;
    std::optional<std::string> record;
    std::optional<std::string> only;    // --only's list, or @FILE
    std::optional<std::string> baseDir; // where relative base-image names are taken from
    std::vector<std::string> positional;
    std::string refusal; // why the command line cannot be taken; empty when it can
};

inline constexpr std::size_t kSingleRunArguments = 6; // VID DID SVID SSID updatedata output
inline constexpr std::size_t kBatchArguments = 2;     // updatedata outdir

inline constexpr std::string_view kUsageLine =
    "Usage:: fwbforge2 VID DID SVID SSID updatedata.xml output.fwb\n";
inline constexpr std::string_view kBatchUsageLine =
    "Usage:: fwbforge2 --all updatedata.xml outdir\n";

// Refused when an argument starts with "--" and names no option, or --record
// has no file or is given twice.
Options parse_options(std::span<const std::string> arguments);

// Every mode and option, for --help.
std::string help_text();
