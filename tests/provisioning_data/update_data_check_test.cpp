#include "provisioning_data/device_key.h"
#include "provisioning_data/update_data_check.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

std::string key(std::string_view did) {
    return R"(<pciid vid="fb2f" did=")" + std::string(did) + R"(" sdid="0001" svid="fb2f" />)";
}

constexpr std::size_t kLineCap = 64 * 1024 * 1024;

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
    const std::string image = "<image>" + utf8_of(dir / "base.fwb") + "</image>\n";
    const std::string inlineImage = "<image>" + utf8_of(dir / "base.fwb") + "</image>";
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
         key("0a01") + "\n<image>" + utf8_of(dir / "base.fwb") + "\n",
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
        {"one line for two devices, each with its own values",
         key("0a01") + "<mac>0a0b</mac><phy>0c</phy>" + inlineImage + key("0a02") +
             "<mac>0d0e</mac>" + image,
         2,
         {}},
        {"a carriage-return-only file",
         key("0a01") + "\r<mac>0a0b</mac>\r" + inlineImage + "\r" + key("0a02") + "\r" +
             inlineImage + "\r",
         2,
         {}},
        {"two keys on a line with no tag between them", key("0a01") + key("0a02") + image, 2, {}},
        {"tags before the first key of a line",
         "<mac>0a</mac>" + key("0a01") + image,
         1,
         {{1, "<mac> outside any entry"}}},
        {"an entry running into the next key on its line",
         key("0a01") + "<mac>0a0b</mac>" + key("0a02") + image,
         2,
         {{1, "entry has no <image> before line 1"}}},
        {"an open entry reads the next device's key line whole",
         key("0a01") + "\n<mac>0a0b</mac>\n" + key("0a02") + "<phy>0c</phy>" + image,
         2,
         {{1, "entry has no <image> before line 3"}}},
        {"an open entry closed on the next device's key line before the key",
         key("0a01") + "\n<mac>0a0b</mac>\n" + inlineImage + key("0a02") + image,
         2,
         {}},
        {"the second device's exprom on a line",
         key("0a01") + "<exprom>False</exprom>" + inlineImage + key("0a02") +
             "<exprom>true</exprom>" + image,
         2,
         {{1, "neither \"True\" nor \"False\""}}},
        {"a line past the cap ends the check",
         key("0a01") + "\n" + image + key("0a02") + "\n" + std::string(kLineCap + 1, 'x') + "\n" +
             image,
         1,
         {{4, "line longer than 64 MiB"}}},
    };
    for (const CheckCase& c : cases) {
        write_file(dir / "update.xml", c.content);
        UpdateDataCheck check;
        ASSERT_EQ(check_update_data(utf8_of(dir / "update.xml"), check), PROVKIT_OK);
        EXPECT_EQ(check.devices.size(), c.devices) << c.name;
        ASSERT_EQ(check.findings.size(), c.findings.size()) << c.name;
        for (std::size_t i = 0; i < c.findings.size(); ++i) {
            EXPECT_EQ(check.findings[i].line, c.findings[i].first) << c.name;
            EXPECT_NE(check.findings[i].message.find(c.findings[i].second), std::string::npos)
                << c.name << ": " << check.findings[i].message;
        }
    }
}

struct ListedCase {
    std::string name;
    std::string content;
    std::vector<ListedDevice> devices; // the identifiers and the values; imageLine
};

ListedDevice listed(std::uint16_t did, std::string mac, std::string phy, std::uint32_t exprom,
                    std::size_t imageLine) {
    ListedDevice device;
    device.id = {did, 0xfb2f, 0xfb2f, 0x0001};
    device.values = {std::move(mac), std::move(phy), "i.fwb", exprom};
    device.imageLine = imageLine;
    return device;
}

TEST(CheckUpdateData, GivesEachDeviceTheValuesTheScannerWould) {
    TempDir dir;
    const std::vector<ListedCase> cases = {
        {"an entry for two devices whose second key follows a value",
         key("0a01") + "\n<mac>0a0b</mac>\n" + key("0a02") +
             "\n<phy>0c</phy>\n<exprom>True</exprom>\n<image>i.fwb</image>\n",
         {listed(0x0a01, "0a0b", "0c", 1, 6), listed(0x0a02, "", "0c", 1, 6)}},
        {"one line: each device reads after its own key",
         key("0a01") + "<mac>0a0b</mac><exprom>False<image>i.fwb</image>" + key("0a02") +
             "<phy>0c</phy><image>i.fwb</image>\n",
         {listed(0x0a01, "0a0b", "0c", 0, 1), listed(0x0a02, "", "0c", 1, 1)}},
        {"carriage returns only: one line",
         key("0a01") + "\r<mac>0a0b</mac>\r<image>i.fwb</image>\r" + key("0a02") +
             "\r<mac>0d</mac>\r<image>i.fwb</image>\r",
         {listed(0x0a01, "0a0b", "", 1, 1), listed(0x0a02, "0d", "", 1, 1)}},
        {"the device on the next line reads it after its key, the open one whole",
         key("0a01") + "\n<mac>0a0b</mac><phy>0c</phy>" + key("0a02") +
             "<phy>0d</phy><image>i.fwb</image>\n",
         {listed(0x0a01, "0a0b", "0c", 1, 2), listed(0x0a02, "", "0d", 1, 2)}},
    };
    for (const ListedCase& c : cases) {
        write_file(dir / "update.xml", c.content);
        UpdateDataCheck check;
        ASSERT_EQ(check_update_data(utf8_of(dir / "update.xml"), check), PROVKIT_OK);
        ASSERT_EQ(check.devices.size(), c.devices.size()) << c.name;
        for (std::size_t i = 0; i < c.devices.size(); ++i) {
            const ListedDevice& device = check.devices[i];
            const ListedDevice& expected = c.devices[i];
            EXPECT_EQ(format_device_key(device.id), format_device_key(expected.id)) << c.name;
            EXPECT_EQ(device.values.macText, expected.values.macText) << c.name;
            EXPECT_EQ(device.values.phyText, expected.values.phyText) << c.name;
            EXPECT_EQ(device.values.imageName, expected.values.imageName) << c.name;
            EXPECT_EQ(device.values.exprom, expected.values.exprom) << c.name;
            EXPECT_EQ(device.imageLine, expected.imageLine) << c.name;
            EntryValues scanned;
            ASSERT_EQ(get_xml_data(format_device_key(device.id), utf8_of(dir / "update.xml"),
                                   scanned.macText, scanned.phyText, scanned.imageName,
                                   scanned.exprom),
                      PROVKIT_OK);
            EXPECT_EQ(scanned.macText + "|" + scanned.phyText + "|" + scanned.imageName,
                      device.values.macText + "|" + device.values.phyText + "|" +
                          device.values.imageName)
                << c.name;
        }
    }
    UpdateDataCheck check;
    EXPECT_EQ(check_update_data(utf8_of(dir / "missing.xml"), check), PROVKIT_ERR_FILE);
}
