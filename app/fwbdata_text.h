#pragma once

#include "common/failure.h"

#include <string>
#include <string_view>

// fwbdata's line for a failure, without the program's name: where in input it
// lies (path, line, the device) and what is wrong there. output names the file
// written, which a device that reads back otherwise concerns.
std::string data_diagnostic(const Failure& failure, std::string_view input,
                            std::string_view output);
