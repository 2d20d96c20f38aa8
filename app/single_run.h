#pragma once

#include "app/options.h"

// fwbforge2 VID DID SVID SSID updatedata.xml output.fwb, with --json, --record
// and --dry-run; the status of the run.
int run_single(const Options& options);
