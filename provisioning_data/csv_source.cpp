#include "provisioning_data/csv_reader.h"
#include "provisioning_data/update_data_writer.h"

#include <algorithm>
#include <array>

namespace {

// The columns in the order of a DeviceId's fields, then the values'.
constexpr std::array<std::string_view, 8> kColumns = {
    "did", "vid", "svid", "ssid", kMacField, kPhyField, kExpromField, kImageField};
constexpr std::size_t kFirstValue = 4;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return (x >= 'A' && x <= 'Z' ? x - 'A' + 'a' : x) ==
               (y >= 'A' && y <= 'Z' ? y - 'A' + 'a' : y);
    });
}

class CsvSource {
  public:
    explicit CsvSource(UpdateDataWriter& writer)
        : writer_(writer), reader_(std::max(kMaxBlobText, kMaxImageName)) {}

    Result<> read(const platform::File& in, std::string_view path) {
        const Result<> read = read_blocks(in, path, [this](std::string_view bytes, bool last) {
            while (reader_.next_row(bytes) || (last && reader_.finish())) {
                if (Result<> taken = take_row(); !taken) {
                    return taken;
                }
            }
            if (!reader_.error().empty()) {
                return Result<>(failure_at(PROVKIT_ERR_MALFORMED, Check::not_well_formed,
                                           {reader_.error_line(), 0, {}, 0}, reader_.error()));
            }
            return Result<>{};
        });
        if (!read) {
            return read;
        }
        if (!header_) {
            return failure_at(PROVKIT_ERR_MALFORMED, Check::column_missing, {1, 0, {}, 0},
                              kColumns[1]);
        }
        return {};
    }

  private:
    Result<> take_row() {
        const std::vector<std::string>& row = reader_.row();
        if (!header_) {
            return take_header(row);
        }
        if (row.size() == 1 && row.front().empty()) {
            return {}; // a blank line
        }
        const std::size_t line = reader_.row_line();
        if (row.size() != width_) {
            return failure_at(PROVKIT_ERR_MALFORMED, Check::not_well_formed, {line, 0, {}, 0},
                              "a row whose number of fields is not the header's");
        }
        std::array<std::uint16_t, 4> ids{};
        for (std::size_t k = 0; k < kFirstValue; ++k) {
            const std::optional<std::uint16_t> id = written_identifier(row[columns_[k]]);
            if (!id) {
                return failure_at(PROVKIT_ERR_DATA, Check::identifier_unwritable,
                                  {line, columns_[k] + 1, {}, 0}, kColumns[k]);
            }
            ids[k] = *id;
        }
        entry_.clear();
        entry_.devices.push_back({{ids[0], ids[1], ids[2], ids[3]}, line});
        entry_.lines.fill(line);
        entry_.macText = row[columns_[4]];
        entry_.phyText = row[columns_[5]];
        if (const std::string& exprom = row[columns_[6]]; !exprom.empty()) {
            // Spreadsheets write their booleans in capitals.
            entry_.exprom = equal_ignoring_case(exprom, "true")    ? "True"
                            : equal_ignoring_case(exprom, "false") ? "False"
                                                                   : exprom;
        }
        entry_.imageName = row[columns_[7]];
        return writer_.write(entry_);
    }

    Result<> take_header(const std::vector<std::string>& row) {
        std::array<std::optional<std::size_t>, kColumns.size()> found;
        for (std::size_t at = 0; at < row.size(); ++at) {
            std::string_view name = row[at];
            if (at == 0 && name.starts_with(kByteOrderMark)) {
                name.remove_prefix(kByteOrderMark.size());
            }
            for (std::size_t k = 0; k < kColumns.size(); ++k) {
                if (!equal_ignoring_case(name, kColumns[k])) {
                    continue;
                }
                if (found[k]) {
                    return failure_at(PROVKIT_ERR_MALFORMED, Check::column_repeated,
                                      {reader_.row_line(), at + 1, {}, 0}, kColumns[k]);
                }
                found[k] = at;
            }
        }
        for (std::size_t k = 0; k < kColumns.size(); ++k) {
            if (!found[k]) {
                return failure_at(PROVKIT_ERR_MALFORMED, Check::column_missing,
                                  {reader_.row_line(), 0, {}, 0}, kColumns[k]);
            }
            columns_[k] = *found[k];
        }
        width_ = row.size();
        header_ = true;
        return {};
    }

    UpdateDataWriter& writer_;
    CsvReader reader_;
    bool header_ = false;
    std::size_t width_ = 0;
    std::array<std::size_t, kColumns.size()> columns_{};
    MeantEntry entry_;
};

} // namespace

Result<> convert_csv(const platform::File& in, std::string_view inPath, UpdateDataWriter& writer) {
    CsvSource source(writer);
    return source.read(in, inPath);
}
