#pragma once

#include "common/failure.h"

#include <string>
#include <string_view>

// What the libraries' failures are called, in the words the tools print: one
// place for both, so that fwbinspect quotes fwbforge2 as fwbforge2 speaks.

// The line for standard error, without the program's name, for a failure the
// operating system or the tool explains; empty when the lines on standard output
// say all there is.
std::string diagnostic_of(const Failure& failure);

// fwbforge2's own line for a failure of the lookup, a blob or the provisioning
// stage, line feed included; empty for one that has none. outputPath is the
// output as given, which a failed write names.
std::string forge_line(const Failure& failure, std::string_view outputPath);

// The words of that line without the file it names, as fwbinspect quotes them
// ("Input fwb not present", "fwbforge2: Odd mac_string").
std::string forge_words(const Failure& failure);
