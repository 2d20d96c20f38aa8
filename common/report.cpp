#include "common/report.h"

#include <cstdio>
#include <string>

void print_text(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void print_line(std::string_view text, std::string_view value) {
    print_text(text);
    print_text(value);
    print_text("\n");
}

void print_number_line(std::string_view text, long long value) {
    print_line(text, std::to_string(value));
}
