#include "app/output.h"

#include <cstdio>

namespace {

std::string& program_name() {
    static std::string name = "fwbforge2";
    return name;
}

void write_to(std::FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

} // namespace

void print_text(std::string_view text) {
    write_to(stdout, text);
}

void print_line(std::string_view text, std::string_view value) {
    std::string line(text);
    line.append(value);
    line.push_back('\n');
    print_text(line);
}

void set_program_name(std::string_view name) {
    program_name() = name;
}

void print_diagnostic(std::string_view text) {
    std::string line = program_name();
    line.append(": ");
    line.append(text);
    line.push_back('\n');
    write_to(stderr, line);
}

void Transcript::text(std::string_view text) {
    printed_.append(text);
    if (echo_) {
        print_text(text);
    }
}

void Transcript::line(std::string_view text, std::string_view value) {
    std::string line(text);
    line.append(value);
    line.push_back('\n');
    this->text(line);
}

void Transcript::number_line(std::string_view text, long long value) {
    line(text, std::to_string(value));
}
