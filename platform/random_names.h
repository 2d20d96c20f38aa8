#pragma once

// The random part of the names the platform layer makes up for temporary files;
// nothing outside platform/ includes this.
#include <string>
#include <string_view>

namespace platform::detail {

std::string random_suffix();

// A path holding a NUL byte names no file, so it is refused rather than cut short.
bool names_a_file(std::string_view path);

} // namespace platform::detail
