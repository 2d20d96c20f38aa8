#pragma once

#include <string_view>

// Every message goes to standard output, bytes as they are (a NUL included).
void print_text(std::string_view text);

// Prints text, value and a line feed, as in "Input fwb not present %s\n".
void print_line(std::string_view text, std::string_view value);

// Prints a progress or status line such as "macBdpLen     :%d\n".
void print_number_line(std::string_view text, long long value);
