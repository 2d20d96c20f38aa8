#include "provisioning_data/update_data_check.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

std::string key(std::string_view did) {
    return R"(<pciid vid="fb2f" did=")" + std::string(did) + R"(" sdid="0001" svid="fb2f" />)";
}

struct CheckCase {
    std::string name;
    std::string content; // "$IMAGE" stands for an image file that exists
    std::size_t devices;
    std::vector<std::pair<std::size_t, std::string>> findings; // line and a part of the message
};

} // namespace

TEST(CheckUpdateData, ReportsEachSurpriseOnItsLine) {
    TempDir dir;
    write_file(dir / "base.fwb", "image");
    const std::string image = "<image>" + (dir / "base.fwb").string() + "</image>\n";
    const std::string values = "<mac>0a0b</mac>\n<phy>0c</phy>\n<exprom>False</exprom>\n";
    const std::vector<CheckCase> cases = {
        {"clean entry for two devices",
         key("0a01") + "\n" + key("0a02") + "\n" + values + image,
         2,
         {}},
        {"other spacing",
         R"(<pciid vid="fb2f"  did="0a01" sdid="0001" svid="fb2f" />)"
         "\n",
         0,
         {{1, "key line not written as"}}},
        {"attribute order",
         R"(<pciid vid="fb2f" sdid="0001" did="0a01" svid="fb2f" />)"
         "\n",
         0,
         {{1, "key line not written as"}}},
        {"no blank before />",
         R"(<pciid vid="fb2f" did="0a01" sdid="0001" svid="fb2f"/>)"
         "\n",
         0,
         {{1, "key line not written as"}}},
        {"uppercase tag",
         R"(<PCIID VID="fb2f" did="0a01" sdid="0001" svid="fb2f" />)"
         "\n",
         0,
         {{1, "not a key line"}}},
        {"entry running into the next",
         key("0a01") + "\n" + values + key("0a02") + "\n" + image,
         2,
         {{1, "entry has no <image> before line 5"}}},
        {"device listed twice",
         key("0a01") + "\n" + image + key("0a01") + "\n" + image,
         1,
         {{3, "listing at line 1 wins"}, {4, "<image> outside any entry"}}},
        {"odd MAC",
         key("0a01") + "\n<mac>0a0</mac>\n" + image,
         1,
         {{2, "MAC text has an odd length"}}},
        {"non-hex PHY",
         key("0a01") + "\n<phy>0x</phy>\n" + image,
         1,
         {{2, "PHY text holds a character"}}},
        {"long MAC",
         key("0a01") + "\n<mac>" + std::string(2050, 'a') + "</mac>\n" + image,
         1,
         {{2, "longer than 1024 bytes"}}},
        {"image to the end of its line",
         key("0a01") + "\n<image>" + (dir / "base.fwb").string() + "\n",
         1,
         {{2, "runs to the end of the line"}, {2, "names no file"}}},
        {"exprom lowercase",
         key("0a01") + "\n<exprom>true</exprom>\n" + image,
         1,
         {{2, "neither \"True\" nor \"False\""}}},
        {"tag outside any entry",
         "<mac>0a</mac>\n" + key("0a01") + "\n" + image,
         1,
         {{1, "<mac> outside any entry"}}},
        {"missing image file",
         key("0a01") + "\n<image>nowhere.fwb</image>\n",
         1,
         {{2, "names no file"}}},
        {"no image at all", key("0a01") + "\n" + values, 1, {{1, "before the end of the file"}}},
    };
    for (const CheckCase& c : cases) {
        write_file(dir / "update.xml", c.content);
        UpdateDataCheck check;
        ASSERT_EQ(check_update_data((dir / "update.xml").string(), check), PROVKIT_OK);
        EXPECT_EQ(check.devices.size(), c.devices) << c.name;
        ASSERT_EQ(check.findings.size(), c.findings.size()) << c.name;
        for (std::size_t i = 0; i < c.findings.size(); ++i) {
            EXPECT_EQ(check.findings[i].line, c.findings[i].first) << c.name;
            EXPECT_NE(check.findings[i].message.find(c.findings[i].second), std::string::npos)
                << c.name << ": " << check.findings[i].message;
        }
    }
}

TEST(CheckUpdateData, GivesEachDeviceTheValuesTheScannerWould) {
    TempDir dir;
    write_file(dir / "update.xml",
               key("0a01") + "\n<mac>0a0b</mac>\n" + key("0a02") +
                   "\n<phy>0c</phy>\n<exprom>True</exprom>\n<image>i.fwb</image>\n");
    UpdateDataCheck check;
    ASSERT_EQ(check_update_data((dir / "update.xml").string(), check), PROVKIT_OK);
    ASSERT_EQ(check.devices.size(), 2u);
    EXPECT_EQ(check.devices[0].values.macText, "0a0b");
    EXPECT_EQ(check.devices[1].values.macText, "") << "its entry starts after the <mac> line";
    EXPECT_EQ(check.devices[1].values.phyText, "0c");
    EXPECT_EQ(check.devices[0].values.imageName, "i.fwb");
    EXPECT_EQ(check.devices[1].imageLine, 6u);
    EXPECT_EQ(check_update_data((dir / "missing.xml").string(), check), PROVKIT_ERR_FILE);
}
