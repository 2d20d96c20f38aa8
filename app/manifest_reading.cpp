#include "app/manifest_reading.h"

#include "app/json_text.h"
#include "app/selection.h"
#include "platform/platform.h"

#include <array>
#include <filesystem>
#include <fstream>

namespace {

// Where the reader stands: the path of keys from the document's top.
class ManifestSax : public nlohmann::json_sax<Json> {
  public:
    explicit ManifestSax(const ManifestReader& reader) : reader_(reader) {}

    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t value) override { return number(value); }
    bool number_unsigned(number_unsigned_t value) override {
        return number(static_cast<std::int64_t>(value));
    }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool string(string_t& value) override;
    bool start_object(std::size_t) override;
    bool key(string_t& key) override;
    bool end_object() override;
    bool start_array(std::size_t) override;
    bool end_array() override;
    bool parse_error(std::size_t at, const std::string&,
                     const nlohmann::detail::exception& error) override {
        problem_ = "not JSON at byte " + std::to_string(at) + " (" + error.what() + ")";
        return false;
    }

    void finish() { give_head(); }
    const std::string& problem() const { return problem_; }

  private:
    bool number(std::int64_t value);
    void give_head() {
        if (!headGiven_ && reader_.head) {
            reader_.head(head_);
        }
        headGiven_ = true;
    }
    // The key this value stands at, depth levels down ("" inside an array).
    std::string_view at(std::size_t level) const {
        return level < keys_.size() ? std::string_view(keys_[level]) : std::string_view();
    }
    bool in_device() const { return keys_.size() == 3 && at(0) == "devices"; }

    const ManifestReader& reader_;
    std::vector<std::string> keys_; // one a level; arrays hold ""
    ManifestHead head_;
    bool headGiven_ = false;
    ManifestEntry entry_;
    std::array<std::string, 4> identifiers_;
    std::string problem_;
};

bool ManifestSax::start_object(std::size_t) {
    keys_.emplace_back();
    if (in_device()) {
        entry_ = ManifestEntry{};
        identifiers_ = {};
    }
    return true;
}

bool ManifestSax::key(string_t& key) {
    keys_.back() = key;
    return true;
}

bool ManifestSax::start_array(std::size_t) {
    if (keys_.size() == 1 && at(0) == "selection") {
        head_.selection.emplace();
    }
    if (keys_.size() == 1 && at(0) == "devices") {
        give_head();
    }
    keys_.emplace_back();
    return true;
}

bool ManifestSax::end_array() {
    keys_.pop_back();
    return true;
}

bool ManifestSax::end_object() {
    const bool device = in_device();
    keys_.pop_back();
    if (!device) {
        return true;
    }
    entry_.id = parse_device_name(identifiers_[0] + "-" + identifiers_[1] + "-" + identifiers_[2] +
                                  "-" + identifiers_[3]);
    return !reader_.device || reader_.device(entry_);
}

bool ManifestSax::number(std::int64_t value) {
    if (in_device() && at(2) == "status") {
        entry_.status = static_cast<int>(value);
    } else if (in_device() && at(2) == "length" && value >= 0) {
        entry_.length = static_cast<std::uint64_t>(value);
    }
    return true;
}

bool ManifestSax::string(string_t& value) {
    if (keys_.size() == 2 && at(0) == "update_data") {
        if (at(1) == "path") {
            head_.updateDataPath = value;
        } else if (at(1) == "sha256") {
            head_.updateDataSha256 = value;
        }
    } else if (keys_.size() == 2 && at(0) == "selection" && head_.selection) {
        if (const std::optional<DeviceId> id = parse_device_name(value)) {
            head_.selection->push_back(*id);
        }
    } else if (in_device()) {
        constexpr std::array<std::string_view, 4> kIdentifiers = {"vid", "did", "svid", "ssid"};
        for (std::size_t i = 0; i < kIdentifiers.size(); ++i) {
            if (at(2) == kIdentifiers[i]) {
                identifiers_[i] = value;
            }
        }
        if (at(2) == "image_name") {
            entry_.imageName = value;
        } else if (at(2) == "file") {
            entry_.file = value;
        } else if (at(2) == "sha256") {
            entry_.sha256 = value;
        }
    }
    return true;
}

} // namespace

std::optional<ManifestReadFailure> read_manifest(std::string_view path,
                                                 const ManifestReader& reader) {
    // Opened first through the platform for the system's reason, and so that a
    // FIFO is refused rather than waited on.
    platform::File checked;
    if (const platform::Error error = platform::open_for_reading_without_waiting(path, checked);
        error.failed()) {
        return ManifestReadFailure{error.reason(), true};
    }
    std::ifstream input(std::filesystem::path(std::u8string(path.begin(), path.end())),
                        std::ios::binary);
    if (!input) {
        return ManifestReadFailure{"it cannot be opened", true};
    }
    ManifestSax sax(reader);
    const bool read = Json::sax_parse(input, &sax);
    if (!read && sax.problem().empty()) {
        return std::nullopt; // stopped by the reader
    }
    if (!read) {
        return ManifestReadFailure{sax.problem(), false};
    }
    sax.finish();
    return std::nullopt;
}
