#include "app/single_run.h"

#include "app/device_run.h"
#include "app/run_record.h"
#include "common/report.h"
#include "provisioning_data/board_data_stage.h"
#include "provisioning_data/device_key.h"

#include <cstdint>
#include <optional>

namespace {

constexpr std::size_t kUpdateDataArgument = 4;
constexpr std::size_t kOutputArgument = 5;

// False, with the refusal printed, when the identifier does not fit 16 bits.
bool read_identifier(std::string_view name, std::string_view argument, std::uint16_t& field) {
    const std::optional<std::uint16_t> value = parse_identifier(argument);
    if (!value) {
        print_line("fwbforge2: Bad " + std::string(name) + " ", argument);
        return false;
    }
    field = *value;
    return true;
}

// In argument order, so a refusal names the first bad one; before any file is opened.
std::optional<DeviceId> read_identifiers(const std::vector<std::string>& arguments) {
    DeviceId id;
    if (!read_identifier("VID", arguments[0], id.vid) ||
        !read_identifier("DID", arguments[1], id.did) ||
        !read_identifier("SVID", arguments[2], id.svid) ||
        !read_identifier("SSID", arguments[3], id.ssid)) {
        return std::nullopt;
    }
    return id;
}

// Opens the record unless it is the update data or the output; the record then
// joins the files the image may not be written over.
bool open_record(const Options& options, const RunFacts& facts, RunRecord& record,
                 std::vector<RunFile>& others) {
    std::vector<RunFile> inputs(others.begin(), others.end());
    std::erase_if(inputs, [](const RunFile& file) { return file.role == "standard output"; });
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

Status run_device(const Options& options, RunRecord& record, RunFacts& facts) {
    std::vector<RunFile> others = files_in_use(facts.updateDataPath);
    if (options.record && !open_record(options, facts, record, others)) {
        print_unable_to_record(*options.record);
        return PROVKIT_ERR_FILE;
    }
    facts.id = read_identifiers(options.positional);
    if (!facts.id) {
        return static_cast<Status>(kCommandLineStatus);
    }
    EntryValues values;
    if (const Status found = find_board_entry(facts.updateDataPath, *facts.id, values);
        found != PROVKIT_OK) {
        print_number_line("fwbforge2: readBdp() returns ", found);
        return found;
    }
    if (record.is_open() && !record.is_not(values.imageName, "the base image")) {
        print_unable_to_record(*options.record);
        return PROVKIT_ERR_FILE;
    }
    BaseImages bases;
    ProvisionOptions provision;
    provision.dryRun = options.dryRun;
    provision.digests = options.json || options.record;
    provision.otherFiles = others;
    ProvisionOutcome outcome;
    if (const Status status = run_stages(values, bases, provision, facts, outcome);
        status != PROVKIT_OK) {
        return status;
    }
    print_closing_lines(facts, outcome);
    return PROVKIT_OK;
}

// A record that cannot take the line fails a run that had not failed already.
void append_record(RunRecord& record, RunFacts& facts, CapturedOutput::Echo echo) {
    if (record.append(json_line(run_json(facts)))) {
        return;
    }
    const CapturedOutput captured(echo);
    print_unable_to_record(record.path());
    facts.printed += captured.text();
    facts.status = facts.status == PROVKIT_OK ? PROVKIT_ERR_FILE : facts.status;
}

} // namespace

int run_single(const Options& options) {
    RunFacts facts;
    facts.dryRun = options.dryRun;
    facts.updateDataPath = options.positional[kUpdateDataArgument];
    facts.outputPath = options.positional[kOutputArgument];
    const CapturedOutput::Echo echo =
        options.json ? CapturedOutput::Echo::off : CapturedOutput::Echo::on;
    RunRecord record;
    {
        const CapturedOutput captured(echo);
        facts.status = run_device(options, record, facts);
        facts.printed = captured.text();
    }
    // A refused identifier opens nothing, the update data included.
    if ((options.json || record.is_open()) && facts.id) {
        facts.updateDataDigest = file_digest(facts.updateDataPath);
    }
    if (record.is_open()) {
        append_record(record, facts, echo);
    }
    if (options.json) {
        print_text(json_text(run_json(facts)));
    }
    return facts.status;
}
