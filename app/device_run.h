#pragma once

#include "app/run_record.h"
#include "common/status.h"
#include "image/provision_file.h"
#include "provisioning_data/board_data_stage.h"
#include "provisioning_data/update_data.h"

#include <string_view>
#include <vector>

// The two stages for one device whose entry's values are found: the board data
// from values, then the provisioning stage into facts.outputPath, each failure
// with the line naming its stage. In a batch, a regular output waits in
// options.batch (outcome.batchSlot) with its facts already filled.
Status run_stages(const EntryValues& values, BaseImages& bases, const ProvisionOptions& options,
                  RunFacts& facts, ProvisionOutcome& outcome);

// An entry's blobs decoded, once for all the devices that share its values.
struct DecodedEntry {
    const EntryValues* values = nullptr;
    BoardData boardData;
    BlobRefusal refusal;
};

// run_stages for values decoded before.
Status run_decoded_stages(const DecodedEntry& decoded, BaseImages& bases,
                          const ProvisionOptions& options, RunFacts& facts,
                          ProvisionOutcome& outcome);

// The closing lines of a device whose image is written (or, for a dry run, would
// be): "Custom fwb generated", or "Dry run: would write" and the digest; the
// warning for an unsealed base.
void print_closing_lines(const RunFacts& facts, ProvisionOutcome& outcome);

// The files a run reads or writes besides its base and output whose identity is
// known before it writes: the update data, and standard output unless it is
// the null device, which keeps nothing.
std::vector<RunFile> files_in_use(std::string_view updateDataPath);

// A batch's image that could not be put in place: its lines and facts, as one run's.
void fail_unplaced(RunFacts& facts);
