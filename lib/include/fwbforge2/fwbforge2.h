#pragma once

// libfwbforge2: what fwbforge2 and fwbinspect do, as calls that return values.
// Nothing here prints; a failure comes back as the exit status the tool would
// end with and the lines it would print for it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace fwbforge2 {

// A PCI device's identifiers.
struct DeviceId {
    std::uint16_t vid = 0;
    std::uint16_t did = 0;
    std::uint16_t svid = 0;
    std::uint16_t ssid = 0;
};

// Why a call failed: the tool's exit status for it and the lines the tool
// prints for it, in the order it prints them (standard error's with the
// program's name in front, as there).
struct Error {
    int status = 0;
    std::vector<std::string> messages;
};

// A value, or the failure that kept it from being made. Never throws.
template <typename T> class [[nodiscard]] Result {
  public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    explicit operator bool() const { return state_.index() == 0; }
    T& operator*() { return *std::get_if<0>(&state_); }
    const T& operator*() const { return *std::get_if<0>(&state_); }
    T* operator->() { return std::get_if<0>(&state_); }
    const T* operator->() const { return std::get_if<0>(&state_); }
    const Error& error() const { return *std::get_if<1>(&state_); }

  private:
    std::variant<T, Error> state_;
};

using Digest = std::array<std::uint8_t, 32>; // SHA-256

// The identifiers as the tools take them from a command line (base-16 text):
// the first that does not fit 16 bits fails with 1.
Result<DeviceId> parse_device_id(std::string_view vid, std::string_view did, std::string_view svid,
                                 std::string_view ssid);

// The image fwbforge2 writes for device, in memory. Fails as fwbforge2 does,
// with 67 or 69.
Result<std::vector<std::uint8_t>> provision(DeviceId device, std::string_view update_data);

// The same into memory the caller owns, so that the image is held once:
// allocate is called once, with the image's length, and gives where it goes
// (or nullptr, which fails the call with 67). Gives the length.
Result<std::uint64_t> provision(DeviceId device, std::string_view update_data,
                                const std::function<std::uint8_t*(std::uint64_t)>& allocate);

// What provision_to wrote.
struct Written {
    std::uint64_t length = 0;
    Digest sha256{};
};

// Writes the image as fwbforge2 does: in place on stable storage before it
// returns, refusing the outputs fwbforge2 refuses.
Result<Written> provision_to(DeviceId device, std::string_view update_data,
                             std::string_view output);

// A device's entry in the update data, as fwbforge2 takes it.
struct Entry {
    std::vector<std::uint8_t> mac; // decoded
    std::vector<std::uint8_t> phy;
    std::uint32_t exprom = 1; // 0 switches the expansion ROM off
    std::string image_name;   // the base image's
    std::size_t key_line = 0; // the line that opens the entry, from 1
};

Result<Entry> find_entry(std::string_view update_data, DeviceId device);

// A device as fwbforge2 --all lists it.
struct ListedEntry {
    DeviceId device;
    std::size_t key_line = 0;
    std::size_t image_line = 0;              // 0 when no "<image>" follows
    std::optional<std::uint16_t> mac_length; // decoded; none when the text does not decode
    std::optional<std::uint16_t> phy_length;
    std::uint32_t exprom = 1;
    std::string image_name;
};

Result<std::vector<ListedEntry>> entries(std::string_view update_data);

struct Finding {
    std::size_t line = 0;
    std::string message;
};

// What fwbinspect --update-data finds.
struct UpdateDataCheck {
    std::size_t devices = 0;
    bool line_too_long = false; // reading stopped at a line past the cap
    std::vector<Finding> findings;
    bool clean() const { return findings.empty(); }
};

Result<UpdateDataCheck> check_update_data(std::string_view update_data);

// A digest of the image's chain, as stored and as recomputed.
struct DigestCheck {
    std::string name; // "header digest", "second-area digest", "table digest", "entry 0 digest"
    Digest stored{};
    Digest computed{};
    bool in_file = false; // the digest and its range lie inside the file
    bool holds = false;
};

struct TableEntry {
    std::size_t index = 0;
    std::uint32_t type = 0;
    std::string type_name; // "MAC", "PHY", or empty for another type
    std::uint32_t length = 0;
    std::uint64_t offset = 0; // of the blob, from the start of the image
    bool in_region = false;
    DigestCheck digest;
};

// What fwbinspect IMAGE reports.
struct Inspection {
    std::uint64_t length = 0;
    bool header_complete = false;
    std::uint32_t bdp_offset = 0; // where the header puts the BDP region
    std::uint32_t bdp_size = 0;
    bool region_valid = false; // after the header, inside the file, holding its table
    bool exprom_cleared = false;
    std::vector<DigestCheck> digests; // the header's, the second area's, the table's
    std::vector<TableEntry> entries;  // the used ones, in table order
    bool verified = false;
};

Result<Inspection> inspect(std::string_view image);

// A part of the layout where two images differ, and the first offset there.
struct Difference {
    std::string part;
    std::uint64_t offset = 0;
};

// An image held against the one fwbforge2 would write (fwbinspect --expect).
struct Expectation {
    bool as_expected = false;
    std::string refusal; // why fwbforge2 would write no image; empty when it would
    std::uint64_t length = 0;
    std::string base; // the base image compared against, once opened
    std::vector<Difference> differences;
};

// base, when given, stands for the entry's base image (fwbinspect --base).
Result<Expectation> expect(std::string_view image, DeviceId device, std::string_view update_data,
                           std::optional<std::string_view> base = std::nullopt);

// Two images side by side (fwbinspect --diff).
struct Comparison {
    bool identical = false;
    std::uint64_t length_a = 0;
    std::uint64_t length_b = 0;
    std::vector<Difference> differences;
};

Result<Comparison> diff(std::string_view a, std::string_view b);

// The library's version, the tools' own.
std::string_view version();

} // namespace fwbforge2
