#pragma once

#include "lib/tool_lines.h" // c_quoted, for the lines both tools print

#include <string>
#include <string_view>

// Standard output is the tools' contract: bytes as they are (a NUL included),
// each piece reaching the output as it is printed, so a killed run leaves its lines.
void print_text(std::string_view text);

// Prints text, value and a line feed, as in "Input fwb not present %s\n".
void print_line(std::string_view text, std::string_view value);

// The name that begins every line on standard error ("fwbforge2", "fwbinspect").
void set_program_name(std::string_view name);
std::string_view program_name();
// The project's version, as CMake has it.
std::string_view tool_version();
// "PROGRAM VERSION\n", as --version prints it.
std::string version_text();

// One line on standard error: the program's name, ": " and text.
void print_diagnostic(std::string_view text);
// A count on standard error that the next one overwrites, for a person
// watching a terminal; print_progress_end() ends its line.
void print_progress(std::string_view text);
void print_progress_end();

// The lines of one run as the program prints them. Echoed, each reaches standard
// output at once (a killed run leaves those printed so far); all are kept, for
// the run's JSON messages or for a batch that prints a device's lines only once
// its image is in place.
class Transcript {
  public:
    explicit Transcript(bool echo) : echo_(echo) {}

    // As it is, line feeds and all.
    void text(std::string_view text);
    // text, value and a line feed.
    void line(std::string_view text, std::string_view value = {});
    void number_line(std::string_view text, long long value);
    const std::string& printed() const { return printed_; }

  private:
    bool echo_;
    std::string printed_;
};
