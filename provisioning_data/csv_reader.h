#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Rows of comma-separated values as RFC 4180 writes them: fields in double
// quotes may hold commas, line breaks and doubled quotes; a row ends at a line
// feed, with or without a carriage return before it. Bytes are fed as they are
// read, so memory holds one row, each field at most maxField bytes.
class CsvReader {
  public:
    explicit CsvReader(std::size_t maxField) : maxField_(maxField) { row_.emplace_back(); }

    // Reads from bytes until a row is complete (true; bytes keeps what follows
    // it) or bytes run out (false). Call with more bytes after false.
    bool next_row(std::string_view& bytes);
    // At the end of the input: true when a last row without a line break is complete.
    bool finish();

    const std::vector<std::string>& row() const { return row_; }
    // The line the last complete row began on, from 1.
    std::size_t row_line() const { return rowLine_; }
    // Why the input is not well-formed, once it is not; empty until then.
    std::string_view error() const { return error_; }
    // The line the input stopped being well-formed on.
    std::size_t error_line() const { return line_; }

  private:
    enum class State { field_start, unquoted, quoted, quote_in_quoted, carriage_return };

    bool take(char c);
    bool end_row();
    void fail(std::string_view reason) { error_ = reason; }
    bool append(char c);

    std::size_t maxField_;
    State state_ = State::field_start;
    std::vector<std::string> row_;
    std::size_t fields_ = 1; // fields of the row being read: row_ keeps its strings' storage
    std::size_t line_ = 1;
    std::size_t startLine_ = 1;
    std::size_t rowLine_ = 0;
    bool rowDone_ = false;
    std::string_view error_;
};

// A field as RFC 4180 writes it: quoted only when it holds a comma, a quote or a
// line break, or begins or ends with a blank a spreadsheet might trim.
void append_csv_field(std::string& out, std::string_view field);
