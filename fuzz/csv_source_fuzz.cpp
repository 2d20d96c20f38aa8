// The CSV reader and fwbdata from-csv on arbitrary bytes: rows written back with
// the field quoting read back the same, and whatever from-csv writes reads back
// with the scanner as the table meant it.
#include "fuzz/conversion.h"
#include "provisioning_data/csv_reader.h"

#include <vector>

namespace {

std::vector<std::vector<std::string>> rows_of(std::string_view bytes, bool& wellFormed) {
    CsvReader reader(kMaxImageName);
    std::vector<std::vector<std::string>> rows;
    while (reader.next_row(bytes)) {
        rows.push_back(reader.row());
    }
    while (reader.finish()) {
        rows.push_back(reader.row());
    }
    wellFormed = reader.error().empty();
    return rows;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = fuzz::text_of(data, size);
    bool wellFormed = false;
    const auto rows = rows_of(input, wellFormed);
    if (wellFormed) {
        std::string written;
        for (const auto& row : rows) {
            for (std::size_t k = 0; k < row.size(); ++k) {
                append_csv_field(written, row[k]);
                written += k + 1 < row.size() ? "," : "\r\n";
            }
        }
        bool again = false;
        FUZZ_CHECK(rows_of(written, again) == rows && again);
    }
    fuzz::convert_and_read_back(input, convert_csv);
    return 0;
}
