#pragma once

#include "image/image_inspection.h"
#include "tests/support/process.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Cases that need what only POSIX systems have (FIFOs, rlimits, /dev files,
// symbolic links, owners, signals) skip there.
#ifdef _WIN32
inline constexpr bool kOnWindows = true;
#else
inline constexpr bool kOnWindows = false;
#endif

// An instrumented program rewrites its counts on exit; under a file-size limit
// that write is cut short and the counts of earlier runs are lost.
#ifdef FWBFORGE2_COVERAGE
inline constexpr bool kCountsCoverage = true;
#else
inline constexpr bool kCountsCoverage = false;
#endif

// Paths as the tools take them, in UTF-8 on every system (a plain std::string
// means the ANSI code page to std::filesystem on Windows).
std::filesystem::path path_of(std::string_view utf8);
std::string utf8_of(const std::filesystem::path& path);

// A new directory in the system's temporary directory, its name prefix and a number.
std::filesystem::path make_unique_directory(std::string_view prefix);

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / path_of(name); }
    std::vector<std::string> entries() const;

  private:
    std::filesystem::path path_;
};

void write_file(const std::filesystem::path& path, std::string_view bytes);
std::string read_file(const std::filesystem::path& path);

std::uint32_t le32(std::string_view bytes, std::size_t offset);
void put_le32(std::string& bytes, std::size_t offset, std::uint32_t value);
std::string sha256(std::string_view bytes);
std::string hex_to_bytes(std::string_view hex);

// A base image from a short description: opaque filler with the BDP region's
// place written into the header, and the digest chain over it when sealed.
struct ImageShape {
    std::size_t size = 0;
    std::uint32_t bdpOffset = 0;
    std::uint32_t bdpSize = 0;
    std::uint8_t seed = 1;
    bool sealed = true;
};
std::string make_image(const ImageShape& shape);

// The BDP region a correct run writes for these blobs, built independently.
std::string expected_region(std::string_view phy, std::string_view mac, std::size_t bdpSize);

// Checks an output against its base image: same length, same bytes outside
// the sealed header fields and the BDP region, the expected region and every
// digest of the chain recomputed over its range.
void expect_provisioned(std::string_view base, std::string_view out, std::string_view phy,
                        std::string_view mac, bool expromCleared);

using RunResult = process::ProcessResult;

struct RunOptions {
    std::uint32_t umask = 022;
    std::optional<std::uint64_t> fileSizeLimit = std::nullopt;
    bool ignoreSizeLimitSignal = true; // so that a write past the limit fails
    std::optional<std::uint32_t> user = std::nullopt;
};

// Runs program with args in dir and collects what it printed and how it ended.
RunResult run_program(const std::filesystem::path& dir, const std::string& program,
                      const std::vector<std::string>& args, const RunOptions& options = {});

// An ordinary user for runs that must not be root, or none when the tests run
// unprivileged or instrumented (such a run could not write its coverage counts).
std::optional<std::uint32_t> ordinary_user();

// Which checks of an inspection hold, '+' or '-' each: header, second area,
// table, then each used entry.
std::string verdicts(const ImageInspection& inspection);

// A 5-byte PHY blob of 0xaa and a 6-byte MAC blob of 0xbb, the expansion ROM cleared.
BoardData small_board_data();
