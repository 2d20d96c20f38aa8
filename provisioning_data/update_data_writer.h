#pragma once

#include "common/device_id.h"
#include "common/failure.h"
#include "platform/platform.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct UpdateDataCheck;

// The longest values a conversion takes: a blob's hexadecimal text for the
// board data's capacity, and an image name no file system exceeds. They bound
// the memory a conversion holds.
inline constexpr std::size_t kMaxBlobText = 2048;
inline constexpr std::size_t kMaxImageName = 4096;

// The tag names, as the conversions' inputs name them too.
inline constexpr std::string_view kMacField = "mac";
inline constexpr std::string_view kPhyField = "phy";
inline constexpr std::string_view kExpromField = "exprom";
inline constexpr std::string_view kImageField = "image";

struct MeantDevice {
    DeviceId id;
    std::size_t line = 0; // where the input names it
};

// An entry as its input means it: devices that share its values.
struct MeantEntry {
    std::vector<MeantDevice> devices;
    std::string macText;
    std::string phyText;
    std::optional<std::string> exprom; // none: no "<exprom>" is written
    std::string imageName;
    // Where the input gives mac, phy, exprom and image, for a failure about one.
    std::array<std::size_t, 4> lines{};

    void clear();
};

// Writes entries in the layout fwbforge2's scanner reads, one device a block,
// then reads the file back with the scanner and compares each device's values
// with what was meant. Every failure names the device and the input's line:
// 69 for a device that cannot be written so that it reads back as meant.
class UpdateDataWriter {
  public:
    // file must be open for reading and writing, and empty; path names it.
    UpdateDataWriter(const platform::File& file, std::string_view path);

    Result<> write(const MeantEntry& entry);
    // Ends the file and reads it back: 67 when it cannot be written or read
    // back, 69 (value_unread) when a device reads back otherwise than meant.
    Result<> finish();
    std::size_t devices() const { return meant_.size(); }

  private:
    using Digest = std::array<std::uint8_t, 16>;
    struct Meant {
        Digest digest;
        std::size_t line = 0;
    };

    Result<> check_values(const MeantEntry& entry) const;
    void put_device(DeviceId id, const MeantEntry& entry);
    Result<> flush_buffer();
    Result<> read_back();
    // Pops the devices the reading has found so far, each checked against meant_.
    Result<> compare(UpdateDataCheck& check, std::size_t& found) const;

    const platform::File& file_;
    std::string path_;
    std::string buffer_;
    std::unordered_map<std::uint64_t, Meant> meant_;
    std::uint64_t offset_ = 0;
};

// An identifier as a conversion's input writes it: one to four hexadecimal
// digits, in either case, and nothing else.
std::optional<std::uint16_t> written_identifier(std::string_view text);

// Hands take the file's bytes a block at a time, then an empty last block (its
// flag set); stops at take's failure. Fails with 67 when in cannot be read.
Result<> read_blocks(const platform::File& in, std::string_view path,
                     const std::function<Result<>(std::string_view bytes, bool last)>& take);

// Reads update data from any XML writer (attributes in any order and quoting,
// references decoded, empty elements as empty values) and writes its entries in
// document order: a pciid element opens or joins the pending entry, mac, phy and
// exprom set its values and image closes it. Fails with 65 (not_well_formed,
// the parser's reason and line), 67 when in cannot be read, 69 for an entry that
// cannot be written (the device and line named), or as writer fails.
Result<> convert_xml(const platform::File& in, std::string_view inPath, UpdateDataWriter& writer);

// Reads a table with a header row naming the columns vid, did, svid, ssid, mac,
// phy, exprom and image (in any order; other columns are left alone) and writes
// a device a row. Fails with 65 (not_well_formed, column_missing,
// column_repeated), 67 or 69 as convert_xml does.
Result<> convert_csv(const platform::File& in, std::string_view inPath, UpdateDataWriter& writer);
