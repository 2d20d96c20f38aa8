#include "app/output.h"

#include <array>
#include <cstdio>

namespace {

std::string& name_of_program() {
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
    name_of_program() = name;
}

std::string_view program_name() {
    return name_of_program();
}

std::string_view tool_version() {
    return FWBFORGE2_VERSION;
}

std::string version_text() {
    return std::string(program_name()) + " " + std::string(tool_version()) + "\n";
}

void print_diagnostic(std::string_view text) {
    std::string line(program_name());
    line.append(": ");
    line.append(text);
    line.push_back('\n');
    write_to(stderr, line);
}

void print_progress(std::string_view text) {
    std::string line("\r");
    line.append(program_name());
    line.append(": ");
    line.append(text);
    write_to(stderr, line);
}

void print_progress_end() {
    write_to(stderr, "\n");
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
