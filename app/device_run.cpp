#include "app/device_run.h"

#include "common/hex.h"
#include "common/report.h"
#include "provisioning_data/board_data_stage.h"

namespace {

void print_stage_failure(std::string_view stage, Status status) {
    print_number_line("fwbforge2: " + std::string(stage) + "() returns ", status);
}

void take_base_facts(const BaseImage& base, RunFacts& facts) {
    facts.baseDigest = base.digest;
    facts.baseVerified =
        base.chainChecked ? std::optional<bool>(base.unsealed.empty()) : std::nullopt;
}

} // namespace

Status run_stages(const EntryValues& values, BaseImages& bases, const ProvisionOptions& options,
                  RunFacts& facts, ProvisionOutcome& outcome) {
    DecodedEntry decoded;
    decoded.values = &values;
    decoded.refusal = decode_entry(values, decoded.boardData);
    return run_decoded_stages(decoded, bases, options, facts, outcome);
}

Status run_decoded_stages(const DecodedEntry& decoded, BaseImages& bases,
                          const ProvisionOptions& options, RunFacts& facts,
                          ProvisionOutcome& outcome) {
    const EntryValues& values = *decoded.values;
    const BoardData& boardData = decoded.boardData;
    facts.imageName = values.imageName;
    if (const Status board = report_board_data(values, decoded.refusal); board != PROVKIT_OK) {
        print_stage_failure("readBdp", board);
        return board;
    }
    facts.macLength = boardData.macBdpLen;
    facts.phyLength = boardData.phyBdpLen;
    facts.exprom = boardData.exprom;
    const Status status =
        provision_device(boardData, values.imageName, facts.outputPath, bases, options, outcome);
    if (outcome.base != nullptr) {
        take_base_facts(*outcome.base, facts);
    }
    if (status != PROVKIT_OK) {
        print_stage_failure("provisionFile", status);
        return status;
    }
    facts.outputLength = outcome.outputLength;
    facts.outputDigest = outcome.outputDigest;
    return PROVKIT_OK;
}

void print_closing_lines(const RunFacts& facts, ProvisionOutcome& outcome) {
    if (facts.dryRun) {
        print_line("Dry run: would write ", facts.outputPath);
        print_line("sha256        :", to_hex(*facts.outputDigest));
    } else {
        print_line("Custom fwb generated  ", facts.outputPath);
    }
    warn_if_base_unsealed(*outcome.base, *facts.imageName);
}

std::vector<RunFile> files_in_use(std::string_view updateDataPath) {
    std::vector<RunFile> files;
    if (const std::optional<platform::FileIdentity> updateData =
            platform::identity_of(updateDataPath)) {
        files.push_back({*updateData, "the update data"});
    }
    platform::FileInfo printed;
    if (!platform::info_of_standard_output(printed).failed() &&
        printed.identity != platform::FileIdentity{} &&
        platform::identity_of(platform::kNullDevice) != printed.identity) {
        files.push_back({printed.identity, "standard output"});
    }
    return files;
}

void fail_unplaced(RunFacts& facts) {
    print_unable_to_write(facts.outputPath);
    print_stage_failure("provisionFile", PROVKIT_ERR_FILE);
    facts.status = PROVKIT_ERR_FILE;
    facts.outputLength.reset();
    facts.outputDigest.reset();
}
