#include "tests/support/test_support.h"

#include "image/calc_hash.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <span>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

TempDir::TempDir() {
    std::string name = (std::filesystem::temp_directory_path() / "fwbforge2-test-XXXXXX").string();
    path_ = ::mkdtemp(name.data());
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
        names.push_back(entry.path().filename().string());
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
    EXPECT_EQ(calcHash(digest, std::span(data, bytes.size())), PROVKIT_OK);
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

// Only system calls between fork and exec, so tests may run programs from several threads.
[[noreturn]] void exec_in_dir(const std::filesystem::path& dir, char* const* argv,
                              const RunOptions& options, int out, int err) {
    if (::chdir(dir.c_str()) != 0) {
        ::_exit(127);
    }
    ::umask(options.umask);
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::execv(argv[0], argv);
    ::_exit(127);
}

std::string read_all(int fd) {
    std::string bytes;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

} // namespace

RunResult run_program(const std::filesystem::path& dir, const std::string& program,
                      const std::vector<std::string>& args, const RunOptions& options) {
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    int out[2];
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    std::FILE* err = std::tmpfile();
    const pid_t child = ::fork();
    if (child == 0) {
        exec_in_dir(dir, argv.data(), options, out[1], ::fileno(err));
    }
    ::close(out[1]);
    RunResult result;
    result.out = read_all(out[0]);
    ::close(out[0]);
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    result.maxRssKiB = usage.ru_maxrss;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    ::lseek(::fileno(err), 0, SEEK_SET);
    result.err = read_all(::fileno(err));
    std::fclose(err);
    return result;
}

bool running_as_root() {
    return ::geteuid() == 0;
}
