#include "common/hex.h"
#include "provisioning_data/board_data_stage.h"
#include "provisioning_data/device_key.h"
#include "provisioning_data/update_data_check.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <set>

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

struct Checked {
    std::size_t devices = 0;
    std::vector<std::pair<std::size_t, std::string>> findings;
    std::string reported; // the findings, for a failure's message
};

bool tells_of_a_missing_blob_tag(std::string_view message) {
    return message.starts_with("entry has no <mac> tag") ||
           message.starts_with("entry has no <phy> tag");
}

// The check's outcome on content, without the findings that drop says to drop.
Checked check_content(const TempDir& dir, std::string_view content,
                      bool (*drop)(std::string_view) = nullptr) {
    write_file(dir / "update.xml", content);
    UpdateDataCheck check;
    EXPECT_TRUE(check_update_data(utf8_of(dir / "update.xml"), check));
    Checked checked;
    checked.devices = check.devices.size();
    for (const Finding& finding : check.findings) {
        if (drop == nullptr || !drop(finding.message)) {
            checked.findings.emplace_back(finding.line, finding.message);
            checked.reported +=
                "\n  line " + std::to_string(finding.line) + ": " + std::string(finding.message);
        }
    }
    return checked;
}

void expect_findings(const Checked& checked, const CheckCase& c) {
    EXPECT_EQ(checked.devices, c.devices) << c.name;
    ASSERT_EQ(checked.findings.size(), c.findings.size()) << c.name << checked.reported;
    for (std::size_t i = 0; i < c.findings.size(); ++i) {
        EXPECT_EQ(checked.findings[i].first, c.findings[i].first) << c.name << checked.reported;
        EXPECT_NE(checked.findings[i].second.find(c.findings[i].second), std::string::npos)
            << c.name << checked.reported;
    }
}

} // namespace

// Entries here leave out <mac> or <phy> freely; that report has its own test.
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
         {{1, "key line not written as"}, {1, "no device entry in the file"}}},
        {"attribute order",
         R"(<pciid vid="fb2f" sdid="0001" did="0a01" svid="fb2f" />)"
         "\n",
         0,
         {{1, "key line not written as"}, {1, "no device entry in the file"}}},
        {"no blank before />",
         R"(<pciid vid="fb2f" did="0a01" sdid="0001" svid="fb2f"/>)"
         "\n",
         0,
         {{1, "key line not written as"}, {1, "no device entry in the file"}}},
        {"uppercase tag",
         R"(<PCIID VID="fb2f" did="0a01" sdid="0001" svid="fb2f" />)"
         "\n",
         0,
         {{1, "not a key line"}, {1, "no device entry in the file"}}},
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
        {"two entries reaching the same odd MAC from different lines",
         key("0a01") + "\n<mac>0a0</mac>\n" + key("0a02") + "\n<mac>0a0</mac>\n" + image,
         2,
         {{1, "entry has no <image> before line 3"},
          {2, "MAC text has an odd length"},
          {4, "MAC text has an odd length"}}},
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
        expect_findings(check_content(dir, c.content, tells_of_a_missing_blob_tag), c);
    }
}

TEST(CheckUpdateData, ReportsWhatFwbforge2WouldSilentlyPassOver) {
    TempDir dir;
    write_file(dir / "base.fwb", "image");
    const std::string image = "<image>" + utf8_of(dir / "base.fwb") + "</image>\n";
    const std::string values = "<mac>0a0b</mac>\n<phy>0c</phy>\n";
    std::string utf16;
    for (const char c : key("0a01") + "\n" + values + image) {
        utf16 += c;
        utf16 += '\0';
    }
    std::string imageBytes(6144, '\0');
    imageBytes.replace(100, 5, "<mac>");
    const std::string noDevice = "no device entry in the file";
    const std::vector<CheckCase> cases = {
        {"an empty file", "", 0, {{1, noDevice}}},
        {"text of another kind", "root:x:0:0:root:/root:/bin/bash\n", 0, {{1, noDevice}}},
        {"UTF-16 text", "\xff\xfe" + utf16, 0, {{1, "holds NUL bytes"}}},
        {"an image", imageBytes, 0, {{1, "<mac> outside any entry"}, {1, "holds NUL bytes"}}},
        {"a line past the cap says so instead",
         std::string(kLineCap + 1, 'x'),
         0,
         {{1, "line longer than 64 MiB"}}},
        {"tags in another case",
         key("0a01") +
             "\n<MAC>0a0b</MAC>\n<Phy>0c</Phy><phy>0d</phy>\n<EXPROM>False</EXPROM>\n"
             "<Image>x.fwb</Image>" +
             image,
         1,
         {{1, "entry has no <mac> tag"},
          {2, "<MAC> differs from <mac> only in case"},
          {3, "<Phy> differs from <phy> only in case"},
          {4, "<EXPROM> differs from <exprom> only in case"},
          {5, "<Image> differs from <image> only in case"}}},
        {"a tag in another case outside any entry",
         "<Mac>0a</Mac>\n" + key("0a01") + values + image,
         1,
         {{1, "<Mac> differs from <mac> only in case"}}},
        {"no <mac>, for each device of the entry",
         key("0a01") + "\n" + key("0a02") + "\n<phy>0c</phy>\n" + image,
         2,
         {{1, "entry has no <mac> tag"}, {2, "entry has no <mac> tag"}}},
        {"no <phy>",
         key("0a01") + "\n<mac>0a0b</mac>\n" + image,
         1,
         {{1, "entry has no <phy> tag"}}},
        {"empty values are written on purpose",
         key("0a01") + "\n<mac></mac><phy></phy>\n" + image,
         1,
         {}},
        {"a tag before the key is not the entry's",
         "<mac>0a</mac>" + key("0a01") + "<phy>0c</phy>" + image,
         1,
         {{1, "<mac> outside any entry"}, {1, "entry has no <mac> tag"}}},
        {"an entry without <image> still lacks its tags",
         key("0a01") + "\n<mac>0a0b</mac>\n",
         1,
         {{1, "entry has no <image> before the end"}, {1, "entry has no <phy> tag"}}},
    };
    for (const CheckCase& c : cases) {
        expect_findings(check_content(dir, c.content), c);
    }
}

struct ListedCase {
    std::string name;
    std::string content;
    std::vector<ListedDevice> devices; // the identifiers, what the values give, imageLine
};

ListedDevice listed(std::uint16_t did, std::uint16_t macBytes, std::uint16_t phyBytes,
                    std::uint32_t exprom, std::size_t imageLine) {
    ListedDevice device;
    device.id = {did, 0xfb2f, 0xfb2f, 0x0001};
    device.macBytes = macBytes;
    device.phyBytes = phyBytes;
    device.exprom = exprom;
    device.imageName = "i.fwb";
    device.imageLine = imageLine;
    return device;
}

std::optional<std::uint16_t> decoded_length(std::string_view text) {
    std::array<std::uint8_t, kBlobCapacity> blob{};
    if (!string_to_databuff(text, blob)) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(text.size() / 2);
}

TEST(CheckUpdateData, GivesEachDeviceWhatTheScannerWould) {
    TempDir dir;
    const std::vector<ListedCase> cases = {
        {"an entry for two devices whose second key follows a value",
         key("0a01") + "\n<mac>0a0b</mac>\n" + key("0a02") +
             "\n<phy>0c</phy>\n<exprom>True</exprom>\n<image>i.fwb</image>\n",
         {listed(0x0a01, 2, 1, 1, 6), listed(0x0a02, 0, 1, 1, 6)}},
        {"one line: each device reads after its own key",
         key("0a01") + "<mac>0a0b</mac><exprom>False<image>i.fwb</image>" + key("0a02") +
             "<phy>0c</phy><image>i.fwb</image>\n",
         {listed(0x0a01, 2, 1, 0, 1), listed(0x0a02, 0, 1, 1, 1)}},
        {"carriage returns only: one line",
         key("0a01") + "\r<mac>0a0b</mac>\r<image>i.fwb</image>\r" + key("0a02") +
             "\r<mac>0d</mac>\r<image>i.fwb</image>\r",
         {listed(0x0a01, 2, 0, 1, 1), listed(0x0a02, 1, 0, 1, 1)}},
        {"a key found in the line's lowercase copy",
         R"(<pciid vid="FB2F" DID="0A01" Sdid="0001" svid="fB2f" />)"
         "<mac>0a0b</mac><phy>0c</phy><image>i.fwb</image>\n",
         {listed(0x0a01, 2, 1, 1, 1)}},
        {"a byte with its high bit set is no less-than sign: the value runs on",
         key("0a01") + "<mac>0a\xbc</mac><phy>0c</phy><image>i.fwb</image>\n",
         {[] {
             ListedDevice device = listed(0x0a01, 0, 1, 1, 1);
             device.macBytes.reset();
             return device;
         }()}},
        {"the device on the next line reads it after its key, the open one whole",
         key("0a01") + "\n<mac>0a0b</mac><phy>0c</phy>" + key("0a02") +
             "<phy>0d0e0f</phy><image>i.fwb</image>\n",
         {listed(0x0a01, 2, 1, 1, 2), listed(0x0a02, 0, 3, 1, 2)}},
    };
    for (const ListedCase& c : cases) {
        write_file(dir / "update.xml", c.content);
        UpdateDataCheck check;
        ASSERT_TRUE(check_update_data(utf8_of(dir / "update.xml"), check));
        ASSERT_EQ(check.devices.size(), c.devices.size()) << c.name;
        for (std::size_t i = 0; i < c.devices.size(); ++i) {
            const ListedDevice& device = check.devices[i];
            const ListedDevice& expected = c.devices[i];
            EXPECT_EQ(format_device_key(device.id), format_device_key(expected.id)) << c.name;
            EXPECT_EQ(device.macBytes, expected.macBytes) << c.name;
            EXPECT_EQ(device.phyBytes, expected.phyBytes) << c.name;
            EXPECT_EQ(device.imageName, expected.imageName) << c.name;
            EXPECT_EQ(device.exprom, expected.exprom) << c.name;
            EXPECT_EQ(device.imageLine, expected.imageLine) << c.name;
            const Result<EntryValues> found =
                get_xml_data(format_device_key(device.id), utf8_of(dir / "update.xml"));
            ASSERT_TRUE(found);
            const EntryValues& scanned = *found;
            EXPECT_EQ(decoded_length(scanned.macText), device.macBytes) << c.name;
            EXPECT_EQ(decoded_length(scanned.phyText), device.phyBytes) << c.name;
            EXPECT_EQ(scanned.imageName, device.imageName) << c.name;
            EXPECT_EQ(scanned.exprom, device.exprom) << c.name;
        }
    }
    UpdateDataCheck check;
    const Result<> missing = check_update_data(utf8_of(dir / "missing.xml"), check);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().status, PROVKIT_ERR_FILE);
    EXPECT_TRUE(missing.error().reason.missing());
}

// A batch keeps every device's values until it writes them: devices that read the
// same entry must share one copy, however many the entry lists.
TEST(CheckUpdateData, GivesTheDevicesOfAnEntryOneCopyOfItsValues) {
    TempDir dir;
    const std::string mac(2048, 'a');
    std::string keys;
    std::string oneLine;
    for (int i = 0; i < 300; ++i) {
        const std::string did = hex16(static_cast<std::uint16_t>(i));
        keys += key(did) + "\n";
        oneLine += key(did) + "<mac>" + did + "</mac>";
    }
    const std::vector<std::pair<std::string, std::size_t>> cases = {
        {keys + "<mac>" + mac + "</mac>\n<phy>0c</phy>\n<image>i.fwb</image>\n", 1},
        {oneLine + "\n<exprom>True</exprom>\n<image>i.fwb</image>\n", 300},
    };
    for (const auto& [content, distinct] : cases) {
        write_file(dir / "update.xml", content);
        UpdateDataCheck check;
        ASSERT_TRUE(check_update_data(utf8_of(dir / "update.xml"), check, {.keepValues = true}));
        ASSERT_EQ(check.values.size(), 300u);
        std::set<const EntryValues*> copies;
        for (std::size_t i = 0; i < check.values.size(); ++i) {
            copies.insert(check.values[i].get());
            EXPECT_EQ(check.values[i]->exprom, check.devices[i].exprom);
            EXPECT_EQ(check.values[i]->macText.size() / 2, check.devices[i].macBytes);
        }
        EXPECT_EQ(copies.size(), distinct);
    }
}

namespace {

// A caller reading some at a time takes each device, in file order, before the
// rest of the file is read; the findings stand in line order once it has ended.
TEST(UpdateDataReading, GivesEachDeviceAsItsEntryClosesAndTheFindingsAtTheEnd) {
    TempDir dir;
    write_file(dir / "image.fwb", "x");
    write_file(dir / "update.xml", key("0a01") + "<mac>zz</mac>\n<image>image.fwb</image>\n" +
                                       key("0a02") + "\n<image>image.fwb</image>\n" + key("0a01") +
                                       "\n" + key("0a03") + "<image>image.fwb</image>\n");
    UpdateDataCheck check;
    UpdateDataReading reading(check);
    ASSERT_TRUE(reading.open(utf8_of(dir / "update.xml")));
    std::vector<std::pair<std::string, std::size_t>> devices; // the device and its image line
    while (reading.read_some()) {
        ASSERT_EQ(check.devices.size(), 1U) << "one entry closes at a time here";
        devices.emplace_back(hex16(check.devices.front().id.did), check.devices.front().imageLine);
        check.devices.pop_front();
    }
    ASSERT_TRUE(reading.finish());
    const std::vector<std::pair<std::string, std::size_t>> expected = {
        {"0a01", 2}, {"0a02", 4}, {"0a03", 6}};
    EXPECT_EQ(devices, expected);
    std::vector<std::size_t> lines;
    for (const Finding& finding : check.findings) {
        lines.push_back(finding.line);
    }
    EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end()));
    EXPECT_NE(std::find(lines.begin(), lines.end(), 5U), lines.end()) << "0a01 listed again";
}

} // namespace
