#pragma once

#include <string>
#include <string_view>

// Standard output is the tools' contract: bytes as they are (a NUL included),
// each line reaching the output as it is printed, so a killed run leaves its lines.
void print_text(std::string_view text);

// Prints text, value and a line feed, as in "Input fwb not present %s\n".
void print_line(std::string_view text, std::string_view value);

// Prints a progress or status line such as "macBdpLen     :%d\n".
void print_number_line(std::string_view text, long long value);

// The name that begins every line on standard error ("fwbforge2", "fwbinspect").
void set_program_name(std::string_view name);

// One line on standard error: the program's name, ": " and text.
void print_diagnostic(std::string_view text);

// While one lives, what would go to standard output is kept in it (a JSON run's
// messages, a batch device's lines until its image is in place), and printed
// as well when asked. The latest one made takes the text; standard error is
// never taken.
class CapturedOutput {
  public:
    enum class Echo { off, on };
    explicit CapturedOutput(Echo echo = Echo::off);
    ~CapturedOutput();
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;
    const std::string& text() const { return text_; }

  private:
    friend void print_text(std::string_view text);
    std::string text_;
    Echo echo_;
    CapturedOutput* outer_;
};
