#include "tests/support/test_support.h"

#include "image/calc_hash.h"
#include "platform/platform.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <span>

std::filesystem::path path_of(std::string_view utf8) {
    return std::u8string(utf8.begin(), utf8.end());
}

std::string utf8_of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

std::filesystem::path make_unique_directory(std::string_view prefix) {
    static std::random_device source;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate =
            std::filesystem::temp_directory_path() /
            path_of(std::string(prefix) + std::to_string(source()));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) {
            return candidate;
        }
    }
    ADD_FAILURE() << "no new directory could be made for " << prefix;
    return {};
}

TempDir::TempDir() : path_(make_unique_directory("fwbforge2-test-")) {}

namespace {

// Windows removes no read-only file.
void make_writable(const std::filesystem::path& path) {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path, ignored)) {
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ignored);
    }
}

} // namespace

TempDir::~TempDir() {
    std::error_code ignored;
    make_writable(path_);
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
        names.push_back(utf8_of(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

void write_file(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t le32(std::string_view bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= std::uint32_t{static_cast<std::uint8_t>(bytes[offset + i])} << (8 * i);
    }
    return value;
}

void put_le32(std::string& bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<char>(value >> (8 * i));
    }
}

std::string sha256(std::string_view bytes) {
    std::array<std::uint8_t, 32> digest{};
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    EXPECT_TRUE(calcHash(digest, std::span(data, bytes.size())));
    return {digest.begin(), digest.end()};
}

std::string hex_to_bytes(std::string_view hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

std::string make_image(const ImageShape& shape) {
    std::string image(shape.size, '\0');
    for (std::size_t i = 0; i < shape.size; ++i) {
        image[i] = static_cast<char>((i * 131 + (i >> 9) + shape.seed * 7u) | 1u);
    }
    if (shape.size >= 4136) {
        put_le32(image, 4128, shape.bdpOffset);
        put_le32(image, 4132, shape.bdpSize);
    }
    const bool tableInside = std::uint64_t{shape.bdpOffset} + 288 <= shape.size;
    if (shape.sealed && shape.size >= 6144 && tableInside) {
        image.replace(4140, 32, sha256(image.substr(shape.bdpOffset, 288)));
        image.replace(224, 32, sha256(image.substr(4096, 2048)));
        image.replace(0, 32, sha256(image.substr(32, 2272)));
    }
    return image;
}

namespace {

std::string padded(std::string_view blob) {
    std::string bytes(blob);
    bytes.resize((blob.size() + 3) / 4 * 4, '\0');
    return bytes;
}

std::string table_entry(std::uint32_t type, std::string_view blob) {
    std::string entry(4, '\0');
    put_le32(entry, 0, type | static_cast<std::uint32_t>(blob.size()) << 8);
    return entry + sha256(padded(blob));
}

} // namespace

std::string expected_region(std::string_view phy, std::string_view mac, std::size_t bdpSize) {
    std::string table = table_entry(1, phy) + table_entry(2, mac);
    table.resize(288, '\0');
    std::string region = table + padded(phy) + padded(mac);
    region.resize(bdpSize, '\0');
    return region;
}

void expect_provisioned(std::string_view base, std::string_view out, std::string_view phy,
                        std::string_view mac, bool expromCleared) {
    ASSERT_EQ(out.size(), base.size());
    const std::size_t bdpOffset = le32(base, 4128);
    const std::size_t bdpSize = le32(base, 4132);
    const auto sealed = [&](std::size_t at) {
        return at < 32 || (at >= 224 && at < 256) || (at >= 4140 && at < 4172) ||
               (expromCleared && at >= 4112 && at < 4120) ||
               (at >= bdpOffset && at < bdpOffset + bdpSize);
    };
    std::size_t unexpected = 0;
    for (std::size_t at = 0; at < base.size(); ++at) {
        unexpected += !sealed(at) && out[at] != base[at];
    }
    EXPECT_EQ(unexpected, 0u) << "bytes changed outside the sealed fields and the BDP region";
    if (expromCleared) {
        EXPECT_EQ(out.substr(4112, 8), std::string(8, '\0'));
    }
    EXPECT_EQ(out.substr(bdpOffset, bdpSize), expected_region(phy, mac, bdpSize));
    EXPECT_EQ(out.substr(4140, 32), sha256(out.substr(bdpOffset, 288))) << "table digest";
    EXPECT_EQ(out.substr(224, 32), sha256(out.substr(4096, 2048))) << "second-area digest";
    EXPECT_EQ(out.substr(0, 32), sha256(out.substr(32, 2272))) << "header digest";
}

namespace {

// Copies of the programs run as another user, in a folder every user may enter:
// the checkout itself may be one only its owner can (a home folder, mktemp -d).
class ReachableCopies {
  public:
    ~ReachableCopies() {
        std::error_code ignored;
        if (!folder_.empty()) {
            std::filesystem::remove_all(folder_, ignored);
        }
    }

    std::string of(const std::string& program) {
        namespace fs = std::filesystem;
        std::error_code error;
        if (folder_.empty()) {
            folder_ = make_unique_directory("fwbforge2-tools-");
            fs::permissions(folder_, fs::perms(0755), error);
        }
        const fs::path copy = folder_ / path_of(program).filename();
        if (!fs::exists(copy)) {
            fs::copy_file(path_of(program), copy, error);
            fs::permissions(copy, fs::perms(0755), error);
        }
        return error ? program : utf8_of(copy);
    }

  private:
    std::filesystem::path folder_;
};

} // namespace

namespace {

// Every JSON document the tools print or write, kept for the schema check that
// runs after the suite: what --json printed, each manifest beside the run, each
// record file.
void keep_json_samples(const std::filesystem::path& dir, const std::vector<std::string>& args,
                       const RunResult& result) {
    const char* samples = std::getenv("FWBFORGE2_JSON_SAMPLES");
    if (samples == nullptr) {
        return;
    }
    static std::atomic<unsigned> count{0};
    static const std::string process = std::to_string(std::random_device{}());
    std::error_code ignored;
    std::filesystem::create_directories(samples, ignored);
    // Named by source: what a test planted at a manifest's or record's name need not be JSON.
    // The big ones only repeat what the small ones show, at length.
    constexpr std::size_t kLargestKept = 256 * 1024;
    const auto keep = [&](std::string_view source, const std::string& text) {
        if (text.size() > kLargestKept) {
            return;
        }
        const std::string name =
            std::string(source) + "-" + process + "-" + std::to_string(count++) + ".json";
        write_file(std::filesystem::path(samples) / name, text);
    };
    // fwbdata to-json prints JSON without being asked to.
    const bool json = std::find(args.begin(), args.end(), "--json") != args.end() ||
                      (!args.empty() && args.front() == "to-json");
    if (json && !result.out.empty() && result.out.front() == '{') {
        keep("printed", result.out);
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::filesystem::path named = dir / std::filesystem::path(args[i]);
        if (std::filesystem::is_regular_file(named / "manifest.json", ignored)) {
            keep("file", read_file(named / "manifest.json"));
        }
        if (args[i] == "--record" && i + 1 < args.size() &&
            std::filesystem::is_regular_file(dir / args[i + 1], ignored)) {
            keep("file", read_file(dir / args[i + 1]));
        }
    }
}

} // namespace

RunResult run_program(const std::filesystem::path& dir, const std::string& program,
                      const std::vector<std::string>& args, const RunOptions& options) {
    static ReachableCopies copies;
    const std::string reachable = options.user ? copies.of(program) : program;
    RunResult result =
        process::run_process({reachable, args, utf8_of(dir), options.umask, options.fileSizeLimit,
                              options.ignoreSizeLimitSignal, options.user});
    keep_json_samples(dir, args, result);
    return result;
}

std::optional<std::uint32_t> ordinary_user() {
#ifdef FWBFORGE2_COVERAGE
    return std::nullopt;
#else
    return process::unprivileged_user();
#endif
}

std::string verdicts(const ImageInspection& inspection) {
    std::string text;
    for (const DigestCheck* check :
         {&inspection.headerDigest, &inspection.secondAreaDigest, &inspection.tableDigest}) {
        text += check->holds() ? '+' : '-';
    }
    for (const EntryInspection& entry : inspection.entries) {
        text += entry.digest.holds() ? '+' : '-';
    }
    return text;
}

BoardData small_board_data() {
    BoardData board;
    board.exprom = 0;
    board.phyBdpLen = 5;
    board.macBdpLen = 6;
    std::fill_n(board.phyBdp.begin(), 5, 0xaa);
    std::fill_n(board.macBdp.begin(), 6, 0xbb);
    return board;
}
