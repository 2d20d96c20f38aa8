#include "provisioning_data/csv_reader.h"

bool CsvReader::append(char c) {
    std::string& field = row_[fields_ - 1];
    if (field.size() >= maxField_) {
        fail("a field longer than the longest value taken");
        return false;
    }
    field.push_back(c);
    return true;
}

bool CsvReader::end_row() {
    row_.resize(fields_);
    rowLine_ = startLine_;
    startLine_ = line_;
    fields_ = 1;
    state_ = State::field_start;
    return true;
}

// True when c completes a row.
bool CsvReader::take(char c) {
    if (rowDone_) {
        // The last row handed out: its strings are reused for this one.
        rowDone_ = false;
        for (std::string& field : row_) {
            field.clear();
        }
        if (row_.empty()) {
            row_.emplace_back();
        }
    }
    if (c == '\n') {
        ++line_;
    }
    switch (state_) {
    case State::quoted:
        if (c == '"') {
            state_ = State::quote_in_quoted;
            return false;
        }
        append(c);
        return false;
    case State::carriage_return:
        if (c == '\n') {
            return end_row();
        }
        fail("a carriage return not before a line feed outside quotes");
        return false;
    case State::field_start:
        if (c == '"') {
            state_ = State::quoted;
            return false;
        }
        break;
    case State::quote_in_quoted:
        if (c == '"') {
            state_ = State::quoted;
            append(c);
            return false;
        }
        if (c != ',' && c != '\n' && c != '\r') {
            fail("text after a closing quote");
            return false;
        }
        break;
    case State::unquoted:
        if (c == '"') {
            fail("a quote inside a field that does not begin with one");
            return false;
        }
        break;
    }
    if (c == ',') {
        ++fields_;
        if (row_.size() < fields_) {
            row_.emplace_back();
        }
        state_ = State::field_start;
    } else if (c == '\n') {
        return end_row();
    } else if (c == '\r') {
        state_ = State::carriage_return;
    } else {
        state_ = State::unquoted;
        append(c);
    }
    return false;
}

bool CsvReader::next_row(std::string_view& bytes) {
    std::size_t used = 0;
    while (used < bytes.size() && error_.empty()) {
        if (take(bytes[used++])) {
            rowDone_ = true;
            bytes.remove_prefix(used);
            return true;
        }
    }
    bytes = {};
    return false;
}

bool CsvReader::finish() {
    if (!error_.empty()) {
        return false;
    }
    if (state_ == State::quoted) {
        fail("a quoted field still open at the end of the input");
        return false;
    }
    if (state_ == State::carriage_return) {
        fail("a carriage return not before a line feed outside quotes");
        return false;
    }
    if (rowDone_ || (state_ == State::field_start && fields_ == 1)) {
        return false; // nothing after the last line break
    }
    end_row();
    rowDone_ = true;
    return true;
}

void append_csv_field(std::string& out, std::string_view field) {
    const bool quoted = field.find_first_of(",\"\r\n") != std::string_view::npos ||
                        (!field.empty() && (field.front() == ' ' || field.back() == ' '));
    if (!quoted) {
        out.append(field);
        return;
    }
    out.push_back('"');
    for (const char c : field) {
        if (c == '"') {
            out.push_back('"');
        }
        out.push_back(c);
    }
    out.push_back('"');
}
