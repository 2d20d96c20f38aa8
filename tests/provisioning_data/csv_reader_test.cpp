#include "provisioning_data/csv_reader.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Rows = std::vector<std::vector<std::string>>;

struct Read {
    Rows rows;
    std::vector<std::size_t> lines;
    std::string error;
};

// The input fed in pieces of `piece` bytes, as a file read in blocks.
Read read_all(std::string_view input, std::size_t piece, std::size_t maxField = 64) {
    CsvReader reader(maxField);
    Read read;
    const auto take = [&] {
        read.rows.push_back(reader.row());
        read.lines.push_back(reader.row_line());
    };
    for (std::size_t at = 0; at < input.size(); at += piece) {
        std::string_view bytes = input.substr(at, piece);
        while (reader.next_row(bytes)) {
            take();
        }
    }
    while (reader.finish()) {
        take();
    }
    read.error = std::string(reader.error());
    return read;
}

struct Case {
    std::string name;
    std::string input;
    Rows rows;
    std::vector<std::size_t> lines;
};

TEST(CsvReader, ReadsRowsAsQuotedWhateverThePieces) {
    const std::vector<Case> cases = {
        {"plain", "a,b\n1,2\n", {{"a", "b"}, {"1", "2"}}, {1, 2}},
        {"crlf", "a,b\r\n1,2\r\n", {{"a", "b"}, {"1", "2"}}, {1, 2}},
        {"no final break", "a,b\n1,2", {{"a", "b"}, {"1", "2"}}, {1, 2}},
        {"empty fields", ",,\n", {{"", "", ""}}, {1}},
        {"quoted comma", "\"a,b\",c\n", {{"a,b", "c"}}, {1}},
        {"doubled quote", "\"say \"\"hi\"\"\",x\n", {{"say \"hi\"", "x"}}, {1}},
        {"line break in quotes",
         "\"R&D\nbase\",x\r\nnext,y\n",
         {{"R&D\nbase", "x"}, {"next", "y"}},
         {1, 3}},
        {"empty quoted", "\"\",\"\"\n", {{"", ""}}, {1}},
        {"blank line", "a\n\nb\n", {{"a"}, {""}, {"b"}}, {1, 2, 3}},
        {"blanks kept", " a , b \n", {{" a ", " b "}}, {1}},
        {"fewer fields after more", "a,b,c\nd\n", {{"a", "b", "c"}, {"d"}}, {1, 2}},
        {"nothing", "", {}, {}},
    };
    for (const Case& c : cases) {
        for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
            const Read read = read_all(c.input, piece);
            EXPECT_EQ(read.error, "") << c.name << " in pieces of " << piece;
            EXPECT_EQ(read.rows, c.rows) << c.name << " in pieces of " << piece;
            EXPECT_EQ(read.lines, c.lines) << c.name << " in pieces of " << piece;
        }
    }
}

TEST(CsvReader, RefusesWhatIsNotWellFormed) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"ab\"c\n", "a quote inside a field that does not begin with one"},
        {"\"ab\"c\n", "text after a closing quote"},
        {"\"open\n", "a quoted field still open at the end of the input"},
        {"a\rb\n", "a carriage return not before a line feed outside quotes"},
        {"a\r", "a carriage return not before a line feed outside quotes"},
        {std::string(65, 'x') + "\n", "a field longer than the longest value taken"},
    };
    for (const auto& [input, reason] : cases) {
        EXPECT_EQ(read_all(input, 2).error, reason) << input;
    }
}

TEST(CsvReader, WritesFieldsThatReadBackWhole) {
    const std::vector<std::string> fields = {"",           "plain", "a,b",    "say \"hi\"",
                                             "two\nlines", " lead", "trail ", "cr\r\nlf"};
    std::string line;
    for (std::size_t k = 0; k < fields.size(); ++k) {
        append_csv_field(line, fields[k]);
        line += k + 1 < fields.size() ? "," : "\r\n";
    }
    const Read read = read_all(line, 5);
    ASSERT_EQ(read.error, "");
    EXPECT_EQ(read.rows, Rows{fields});
    std::string plain;
    append_csv_field(plain, "fb2f");
    EXPECT_EQ(plain, "fb2f");
}

} // namespace
