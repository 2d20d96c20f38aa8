#include "app/single_run.h"

#include "app/device_run.h"
#include "app/json_text.h"
#include "app/lookup_notes.h"
#include "app/output.h"
#include "app/record_file.h"
#include "app/run_record.h"
#include "lib/failure_text.h"
#include "provisioning_data/board_data_stage.h"
#include "provisioning_data/device_key.h"

#include <cstdint>
#include <optional>

namespace {

constexpr std::size_t kUpdateDataArgument = 4;
constexpr std::size_t kOutputArgument = 5;

// Opens the record unless it is the update data, standard output's file (whose
// own writes would land over its lines) or the output; the record then joins the
// files the image may not be written over.
bool open_record(const Options& options, const RunFacts& facts, RunRecord& record,
                 std::vector<RunFile>& others) {
    std::vector<RunFile> inputs(others.begin(), others.end());
    if (const std::optional<platform::FileIdentity> output =
            platform::identity_of(facts.outputPath)) {
        inputs.push_back({*output, "the output"});
    }
    if (!record.open(*options.record, inputs)) {
        return false;
    }
    if (const std::optional<platform::FileIdentity> own = record.identity()) {
        others.push_back({*own, "the record"});
    }
    return true;
}

Status run_device(const Options& options, RunRecord& record, RunFacts& facts, Transcript& out) {
    std::vector<RunFile> others = files_in_use(facts.updateDataPath);
    if (options.record && !open_record(options, facts, record, others)) {
        out.line("Unable to write record ", *options.record);
        return PROVKIT_ERR_FILE;
    }
    // In argument order, so a refusal names the first bad one; before any file is opened.
    const Result<DeviceId> id = parse_device_id(options.positional);
    if (!id) {
        out.text(forge_line(id.error(), {}));
        return id.error().status;
    }
    facts.id = *id;
    note_identifiers_read_as(options.positional, *id);
    // The update data's digest, when the run's facts are kept, is of the bytes read.
    const bool digests = options.json || options.record;
    const BoardDataStage stage =
        readBdp(facts.updateDataPath, *id, digests ? &facts.updateDataDigest : nullptr);
    if (stage.failure.check == Check::no_entry) {
        explain_missing_entry(facts.updateDataPath, *id);
    }
    std::string basePath;
    if (stage.entry) {
        facts.imageName = stage.entry->imageName;
        warn_if_exprom_unclear(*stage.entry, facts.updateDataPath);
        basePath = base_image_path(options.baseDir, stage.entry->imageName);
        facts.basePath = basePath;
    }
    if (stage.entry && record.is_open() && !record.is_not(basePath, "the base image")) {
        out.line("Unable to write record ", *options.record);
        return PROVKIT_ERR_FILE;
    }
    print_board_data_stage(out, stage.entry ? &*stage.entry : nullptr, stage.failure);
    if (stage.failure.failed()) {
        return stage.failure.status;
    }
    facts.macLength = stage.boardData.macBdpLen;
    facts.phyLength = stage.boardData.phyBdpLen;
    facts.exprom = stage.boardData.exprom;
    print_provision_start(out, stage.boardData);
    BaseImages bases;
    ProvisionOptions provision;
    provision.dryRun = options.dryRun;
    provision.digests = digests;
    provision.otherFiles = others;
    const ProvisionOutcome outcome =
        provisionFile(stage.boardData, basePath, facts.outputPath, bases, provision);
    print_provision_outcome(out, outcome, facts);
    if (outcome.failure.failed()) {
        return outcome.failure.status;
    }
    print_closing_lines(out, facts);
    BaseWarnings().warn_if_unsealed(*outcome.base, stage.entry->imageName);
    return PROVKIT_OK;
}

// A record that cannot take the line fails a run that had not failed already.
void append_record(RunRecord& record, RunFacts& facts, Transcript& out) {
    const RunStamp stamp = stamp_now();
    if (record.append(json_line(run_json(facts, &stamp)))) {
        return;
    }
    out.line("Unable to write record ", record.path());
    facts.printed = out.printed();
    facts.status = facts.status == PROVKIT_OK ? PROVKIT_ERR_FILE : facts.status;
}

} // namespace

int run_single(const Options& options) {
    RunFacts facts;
    facts.dryRun = options.dryRun;
    facts.updateDataPath = options.positional[kUpdateDataArgument];
    facts.outputPath = options.positional[kOutputArgument];
    Transcript out(!options.json);
    RunRecord record;
    facts.status = run_device(options, record, facts, out);
    facts.printed = out.printed();
    if (record.is_open()) {
        append_record(record, facts, out);
    }
    if (options.json) {
        print_text(json_document(run_json(facts)));
    }
    return facts.status;
}
