#include "common/report.h"

#include <cstdio>
#include <string>

namespace {

std::string& program_name() {
    static std::string name = "fwbforge2";
    return name;
}

void write_to(std::FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

CapturedOutput* capture = nullptr;

} // namespace

CapturedOutput::CapturedOutput(Echo echo) : echo_(echo), outer_(capture) {
    capture = this;
}

CapturedOutput::~CapturedOutput() {
    capture = outer_;
}

void print_text(std::string_view text) {
    if (capture != nullptr) {
        capture->text_.append(text);
    }
    if (capture == nullptr || capture->echo_ == CapturedOutput::Echo::on) {
        write_to(stdout, text);
    }
}

void print_line(std::string_view text, std::string_view value) {
    std::string line(text);
    line.append(value);
    line.push_back('\n');
    print_text(line);
}

void print_number_line(std::string_view text, long long value) {
    print_line(text, std::to_string(value));
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
