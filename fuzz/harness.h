#pragma once

// What the harnesses share: a scratch folder for the files the tool must read
// and write, and a check that stops the run loudly when an invariant breaks.
#include "platform/platform.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzz {

// Paths reach the tool in UTF-8 on every system.
inline std::string utf8_of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

// A folder of this process's own, removed at exit; the tool's messages are silenced.
inline const std::filesystem::path& scratch() {
    static const struct Scratch {
        std::filesystem::path path;
        Scratch() {
            std::random_device source;
            for (int attempt = 0; attempt < 100 && path.empty(); ++attempt) {
                const std::filesystem::path candidate =
                    std::filesystem::temp_directory_path() /
                    ("fwbforge2-fuzz-" + std::to_string(source()));
                std::error_code error;
                if (std::filesystem::create_directory(candidate, error)) {
                    path = candidate;
                }
            }
            if (path.empty()) {
                std::abort();
            }
            std::freopen(std::string(platform::kNullDevice).c_str(), "w", stdout);
        }
        ~Scratch() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } folder;
    return folder.path;
}

inline std::string_view text_of(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

inline std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

inline std::string write_scratch_file(std::string_view name, std::string_view bytes) {
    const std::filesystem::path path = scratch() / name;
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return utf8_of(path);
}

inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace fuzz
