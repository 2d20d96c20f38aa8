#include "app/device_run.h"

#include "app/failure_text.h"
#include "common/hex.h"

namespace {

void print_stage_failure(Transcript& out, std::string_view stage, Status status) {
    out.number_line("fwbforge2: " + std::string(stage) + "() returns ", status);
}

void take_base_facts(const BaseImage& base, RunFacts& facts) {
    facts.baseDigest = base.digest;
    facts.baseVerified = base.unsealed ? std::optional<bool>(base.unsealed->empty()) : std::nullopt;
}

} // namespace

void print_board_data_stage(Transcript& out, const EntryValues* entry, const Failure& failure) {
    if (entry == nullptr) {
        out.text(forge_line(failure, {}));
        print_stage_failure(out, "get_xml_data", failure.status);
    } else {
        out.number_line("exprom        :", entry->exprom);
        out.line("Image Name    :", entry->imageName);
        if (failure.failed()) {
            out.text(forge_line(failure, {}));
        }
    }
    if (failure.failed()) {
        print_stage_failure(out, "readBdp", failure.status);
    }
}

void print_provision_start(Transcript& out, const BoardData& boardData) {
    out.number_line("macBdpLen     :", boardData.macBdpLen);
    out.number_line("phyBdpLen     :", boardData.phyBdpLen);
}

void print_provision_outcome(Transcript& out, const ProvisionOutcome& outcome, RunFacts& facts) {
    for (unsigned i = 0; i < outcome.digestFailures; ++i) {
        out.text("calcHash::PROVKIT_ERR_LIBTOM\n");
    }
    if (outcome.base != nullptr) {
        take_base_facts(*outcome.base, facts);
    }
    if (!outcome.failure.failed()) {
        facts.outputLength = outcome.outputLength;
        facts.outputDigest = outcome.outputDigest;
        return;
    }
    if (const std::string diagnostic = diagnostic_of(outcome.failure); !diagnostic.empty()) {
        print_diagnostic(diagnostic);
    }
    out.text(forge_line(outcome.failure, facts.outputPath));
    print_stage_failure(out, "provisionFile", outcome.failure.status);
}

void print_unplaced(Transcript& out, const Failure& failure, RunFacts& facts) {
    print_diagnostic(diagnostic_of(failure));
    out.text(forge_line(failure, facts.outputPath));
    print_stage_failure(out, "provisionFile", failure.status);
    facts.status = failure.status;
    facts.outputLength.reset();
    facts.outputDigest.reset();
}

// Base images may come unsealed from a build: the run goes on, but says so.
void BaseWarnings::warn_if_unsealed(const BaseImage& base, std::string_view basePath) {
    if (!base.unsealed || base.unsealed->empty() ||
        !warned_.emplace(base.identity.device, base.identity.inode).second) {
        return;
    }
    std::string text = "warning: base image ";
    text.append(basePath);
    text.append(" does not verify: ");
    for (std::size_t i = 0; i < base.unsealed->size(); ++i) {
        text.append(i == 0 ? "" : ", ");
        text.append((*base.unsealed)[i]);
    }
    text.append(base.unsealed->size() == 1 ? " differs" : " differ");
    print_diagnostic(text);
}

void print_closing_lines(Transcript& out, const RunFacts& facts) {
    if (facts.dryRun) {
        out.line("Dry run: would write ", facts.outputPath);
        out.line("sha256        :", to_hex(*facts.outputDigest));
    } else {
        out.line("Custom fwb generated  ", facts.outputPath);
    }
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
