// fwbforge2 VID DID SVID SSID updatedata.xml output.fwb
// fwbforge2 --all updatedata.xml outdir
// with --json, --record FILE, --dry-run anywhere; --help, --version
#include "app/batch.h"
#include "app/command_line.h"
#include "app/options.h"
#include "app/output.h"
#include "app/single_run.h"
#include "common/status.h"
#include "platform/platform.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    platform::fill_closed_standard_streams();
    platform::use_binary_standard_streams();
    platform::keep_running_on_broken_pipes_and_size_limits();
    const std::vector<std::string> arguments = platform::command_line_arguments(argc, argv);
    const Options options = parse_options(std::span(arguments).subspan(1));
    if (!options.refusal.empty()) {
        return refuse_command_line(options.refusal, kUsageLine, options.json);
    }
    if (options.help || options.version) {
        print_text(options.help ? help_text() : version_text());
        return PROVKIT_OK;
    }
    if (options.only && !options.all) {
        return refuse_command_line("--only needs --all", kUsageLine, options.json);
    }
    if (options.all) {
        if (options.positional.size() != kBatchArguments) {
            return refuse_command_line({}, kBatchUsageLine, options.json);
        }
        return run_batch(options);
    }
    // Arguments past the six are ignored, as they always were.
    if (options.positional.size() < kSingleRunArguments) {
        return refuse_command_line({}, kUsageLine, options.json);
    }
    return run_single(options);
}
