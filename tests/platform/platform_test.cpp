#include "platform/platform.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

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
