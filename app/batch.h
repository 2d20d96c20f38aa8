#pragma once

#include "app/options.h"

// fwbforge2 --all updatedata.xml outdir, with --json, --record and --dry-run;
// 0 when every device was written, else the first failing device's status.
int run_batch(const Options& options);
