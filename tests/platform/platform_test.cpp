#include "platform/platform.h"
#include "tests/support/test_support.h"

#include <array>
#include <filesystem>
#include <gtest/gtest.h>
#include <span>

TEST(OpenForReading, RefusesAPathHoldingNulInsteadOfOpeningItsPrefix) {
    TempDir dir;
    write_file(dir / "base", "x");
    const std::string withNul = utf8_of(dir / "base") + std::string("\0.txt", 5);
    platform::File file;
    EXPECT_TRUE(platform::open_for_reading(withNul, file).failed());
    EXPECT_FALSE(file.valid());
    EXPECT_FALSE(platform::open_for_reading(utf8_of(dir / "base"), file).failed());
    EXPECT_TRUE(file.valid());
}

namespace {

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

} // namespace

// Windows moves a handle's position on every read or write at an offset.
TEST(ReadAndWriteAt, LeaveTheFilePositionWhereItWas) {
    TempDir dir;
    write_file(dir / "file", "0123456789");
    platform::File file;
    ASSERT_FALSE(platform::open_existing_for_writing(utf8_of(dir / "file"), file).failed());
    ASSERT_FALSE(platform::write_all(file, bytes_of("01")).failed());
    ASSERT_FALSE(platform::write_all_at(file, 7, bytes_of("xyz")).failed());
    ASSERT_FALSE(platform::write_all(file, bytes_of("ab")).failed());
    file.close();
    EXPECT_EQ(read_file(dir / "file"), "01ab456xyz");

    ASSERT_FALSE(platform::open_for_reading(utf8_of(dir / "file"), file).failed());
    std::array<std::uint8_t, 3> at{};
    std::array<char, 2> next{};
    std::size_t got = 0;
    ASSERT_FALSE(platform::read_fully_at(file, 7, at, got).failed());
    EXPECT_EQ(std::string(at.begin(), at.end()), "xyz");
    ASSERT_FALSE(platform::read_some(file, next, got).failed());
    EXPECT_EQ(std::string(next.begin(), next.begin() + static_cast<std::ptrdiff_t>(got)), "01");
}

// A reader holding the old file open must not stop its replacement; a hard
// link is the same file, a replacement another.
TEST(RenameIn, ReplacesAFileThatIsOpenElsewhereAndKeepsItsIdentityApart) {
    TempDir dir;
    write_file(dir / "old", "old");
    write_file(dir / "new", "new");
    std::filesystem::create_hard_link(dir / "old", dir / "second-name");
    platform::FileInfo old;
    platform::FileInfo second;
    platform::FileInfo fresh;
    ASSERT_FALSE(platform::info_of_path(utf8_of(dir / "old"), old).failed());
    ASSERT_FALSE(platform::info_of_path(utf8_of(dir / "second-name"), second).failed());
    ASSERT_FALSE(platform::info_of_path(utf8_of(dir / "new"), fresh).failed());
    EXPECT_EQ(old.identity, second.identity);
    EXPECT_NE(old.identity, fresh.identity);

    // Windows 10 on NTFS replaces it as POSIX does; wine, checked here, cannot.
    platform::File reader;
    if (!kOnWindows) {
        ASSERT_FALSE(platform::open_for_reading(utf8_of(dir / "old"), reader).failed());
    }
    platform::Directory directory;
    ASSERT_FALSE(directory.open(utf8_of(dir.path())).failed());
    const platform::Error replaced = platform::rename_in(directory, "new", "old");
    EXPECT_FALSE(replaced.failed()) << replaced.reason();
    reader.close();
    EXPECT_EQ(read_file(dir / "old"), "new");
    EXPECT_EQ(read_file(dir / "second-name"), "old");
    EXPECT_FALSE(std::filesystem::exists(dir / "new"));
}

// A writer reads back what it wrote before the file takes its name.
TEST(Temporaries, OpenForReadingBackWhatWasWritten) {
    TempDir dir;
    platform::Directory directory;
    ASSERT_FALSE(directory.open(utf8_of(dir.path())).failed());
    platform::File unnamed;
    platform::File named;
    std::string name;
    const platform::Error unnamedError = platform::create_unnamed_in(directory, unnamed);
    ASSERT_TRUE(!unnamedError.failed() || unnamedError.unsupported()) << unnamedError.reason();
    ASSERT_FALSE(platform::create_uniquely_named_in(directory, ".t-", named, name).failed());
    for (const platform::File* file : {&unnamed, &named}) {
        if (!file->valid()) {
            continue;
        }
        ASSERT_FALSE(platform::write_all(*file, bytes_of("written")).failed());
        std::array<std::uint8_t, 7> back{};
        std::size_t got = 0;
        const platform::Error read = platform::read_fully_at(*file, 0, back, got);
        EXPECT_FALSE(read.failed()) << read.reason();
        EXPECT_EQ(std::string(back.begin(), back.begin() + static_cast<std::ptrdiff_t>(got)),
                  "written");
    }
}
