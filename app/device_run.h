#pragma once

#include "app/output.h"
#include "app/run_record.h"
#include "common/failure.h"
#include "image/base_image.h"
#include "image/provision_file.h"
#include "lib/tool_lines.h"
#include "provisioning_data/update_data.h"

#include <set>
#include <string_view>
#include <utility>
#include <vector>

// fwbforge2's lines for one device, from what its stages found, in the order it
// has always printed them; and the run's facts, for its JSON and its record.

// The board-data stage: for a failed lookup its own line and the line naming
// get_xml_data; else the entry's switch and image name, then a blob's failure;
// on any failure, the line naming readBdp.
void print_board_data_stage(Transcript& out, const EntryValues* entry, const Failure& failure);

// The provisioning stage's lines before it opens anything.
void print_provision_start(Transcript& out, const BoardData& boardData);

// The provisioning stage's lines once it returned: a line for each digest the hash
// library failed to compute, then, when it failed, its own line, the reason on
// standard error and the line naming provisionFile. The facts take what it found.
void print_provision_outcome(Transcript& out, const ProvisionOutcome& outcome, RunFacts& facts);

// The lines of an image a batch could not put in place, as one run's.
void print_unplaced(Transcript& out, const Failure& failure, RunFacts& facts);

// Bases whose chain does not hold are warned of once a run, on standard error.
class BaseWarnings {
  public:
    void warn_if_unsealed(const BaseImage& base, std::string_view basePath);

  private:
    std::set<std::pair<std::uint64_t, std::uint64_t>> warned_; // by identity
};

// The closing lines of a device whose image is written (or, for a dry run, would
// be): "Custom fwb generated", or "Dry run: would write" and the digest.
void print_closing_lines(Transcript& out, const RunFacts& facts);
