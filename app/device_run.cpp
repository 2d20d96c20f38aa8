#include "app/device_run.h"

#include "common/hex.h"
#include "lib/tool_lines.h"

namespace {

void take_base_facts(const BaseImage& base, RunFacts& facts) {
    facts.baseDigest = base.digest;
    facts.baseVerified = base.unsealed ? std::optional<bool>(base.unsealed->empty()) : std::nullopt;
}

} // namespace

void print_board_data_stage(Transcript& out, const EntryValues* entry, const Failure& failure) {
    if (entry != nullptr) {
        out.number_line("exprom        :", entry->exprom);
        out.line("Image Name    :", entry->imageName);
    }
    if (failure.failed()) {
        out.text(board_data_failure_text(entry != nullptr, failure));
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
    const ToolLines lines = provision_failure_lines(outcome.failure, facts.outputPath);
    if (!lines.diagnostic.empty()) {
        print_diagnostic(lines.diagnostic);
    }
    out.text(lines.printed);
}

void print_unplaced(Transcript& out, const Failure& failure, RunFacts& facts) {
    const ToolLines lines = provision_failure_lines(failure, facts.outputPath);
    print_diagnostic(lines.diagnostic);
    out.text(lines.printed);
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
