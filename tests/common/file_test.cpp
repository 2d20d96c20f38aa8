#include "common/file.h"
#include "tests/support/test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>

TEST(OpenForReading, RefusesAPathHoldingNulInsteadOfOpeningItsPrefix) {
    TempDir dir;
    write_file(dir / "base", "x");
    const std::string withNul = (dir / "base").string() + std::string("\0.txt", 5);
    EXPECT_FALSE(open_for_reading(withNul).valid());
    EXPECT_TRUE(open_for_reading((dir / "base").string()).valid());
}

TEST(UniqueFd, ClosesItsDescriptorAtTheEndOfItsScope) {
    int raw = -1;
    {
        const UniqueFd fd = open_for_reading("/dev/null");
        raw = fd.get();
        ASSERT_GE(raw, 0);
    }
    EXPECT_EQ(::fcntl(raw, F_GETFD), -1);
}
