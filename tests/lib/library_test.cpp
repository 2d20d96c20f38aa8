// The C++ calls where the Python module does not reach them: memory the caller
// gives, and images made in memory against those written to a file.
#include "fwbforge2/fwbforge2.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

constexpr fwbforge2::DeviceId kDevice{0xfb2f, 0x0a01, 0xfb2f, 0x0001};
constexpr std::size_t kBaseSize = 96 * 1024;

// Update data with one entry for kDevice over a base image in dir.
std::string make_station(const TempDir& dir) {
    write_file(dir / "base.fwb", make_image({kBaseSize, 65536, 4096, 7, true}));
    const std::string updateData = utf8_of(dir / "update.xml");
    write_file(dir / "update.xml",
               "<pciid vid=\"fb2f\" did=\"0a01\" sdid=\"0001\" svid=\"fb2f\" />\n"
               "<mac>00112233</mac><phy>4455</phy><image>" +
                   utf8_of(dir / "base.fwb") + "</image>\n");
    return updateData;
}

TEST(Library, AnImageMadeInMemoryIsTheImageWrittenToAFile) {
    TempDir dir;
    const std::string updateData = make_station(dir);
    const auto image = fwbforge2::provision(kDevice, updateData);
    ASSERT_TRUE(image);
    const auto written = fwbforge2::provision_to(kDevice, updateData, utf8_of(dir / "out.fwb"));
    ASSERT_TRUE(written);
    const std::string file = read_file(dir / "out.fwb");
    EXPECT_EQ(std::string(image->begin(), image->end()), file);
    EXPECT_EQ(written->length, file.size());
    EXPECT_EQ(sha256(file), std::string(written->sha256.begin(), written->sha256.end()));
}

TEST(Library, MemoryTheCallerGivesIsAskedForOnceAndMayBeRefused) {
    TempDir dir;
    const std::string updateData = make_station(dir);
    struct Case {
        bool refuse;
        int status;
    };
    for (const Case& c : {Case{false, 0}, Case{true, 67}}) {
        std::vector<std::uint8_t> memory;
        std::vector<std::uint64_t> asked;
        const auto laid =
            fwbforge2::provision(kDevice, updateData, [&](std::uint64_t length) -> std::uint8_t* {
                asked.push_back(length);
                memory.resize(length);
                return c.refuse ? nullptr : memory.data();
            });
        EXPECT_EQ(asked, std::vector<std::uint64_t>{kBaseSize}) << c.refuse;
        EXPECT_EQ(laid ? 0 : laid.error().status, c.status) << c.refuse;
        EXPECT_TRUE(laid || !laid.error().messages.empty()) << c.refuse;
    }
}

TEST(Library, AFailureStopsBeforeAnyMemoryIsAskedFor) {
    TempDir dir;
    const std::string updateData = make_station(dir);
    const fwbforge2::DeviceId absent{0xfb2f, 0xffff, 0, 0};
    bool asked = false;
    const auto laid = fwbforge2::provision(absent, updateData, [&](std::uint64_t) {
        asked = true;
        return static_cast<std::uint8_t*>(nullptr);
    });
    ASSERT_FALSE(laid);
    EXPECT_FALSE(asked);
    EXPECT_EQ(laid.error().status, 69);
    EXPECT_EQ(
        laid.error().messages,
        (std::vector<std::string>{
            "fwbforge2: get_xml_data() returns 69", "fwbforge2: readBdp() returns 69",
            "fwbforge2: no entry for vid=fb2f did=ffff svid=0000 ssid=0000 in " + updateData}));
}

} // namespace
