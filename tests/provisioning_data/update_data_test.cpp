#include "provisioning_data/device_key.h"
#include "provisioning_data/update_data.h"
#include "provisioning_data/update_data_check.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

const std::string kKeyLine = R"(<pciid vid="fb2f" did="0a01" sdid="0001" svid="fb2f" />)";
const std::string kOtherKeyLine = R"(<pciid vid="fb2f" did="0a02" sdid="0001" svid="fb2f" />)";

struct Lookup {
    Status status = PROVKIT_OK;
    std::string mac;
    std::string phy;
    std::string image;
    std::uint32_t exprom = 1;
};

Lookup look_up(std::string_view content) {
    TempDir dir;
    write_file(dir / "update.xml", content);
    const Result<EntryValues> values = get_xml_data(
        format_device_key({0x0a01, 0xfb2f, 0xfb2f, 0x0001}), utf8_of(dir / "update.xml"));
    if (!values) {
        return {values.error().status, "", "", "", 1};
    }
    return {PROVKIT_OK, values->macText, values->phyText, values->imageName, values->exprom};
}

struct LookupCase {
    std::string name;
    std::string content;
    Lookup expected;
};

void PrintTo(const Lookup& l, std::ostream* os) {
    *os << "{" << l.status << ", mac=" << l.mac << ", phy=" << l.phy << ", image=" << l.image
        << ", exprom=" << l.exprom << "}";
}

bool operator==(const Lookup& a, const Lookup& b) {
    return a.status == b.status && a.mac == b.mac && a.phy == b.phy && a.image == b.image &&
           a.exprom == b.exprom;
}

} // namespace

TEST(DeviceKey, IsFiftyFiveLowercaseCharactersWithSdidBeforeSvid) {
    const std::string key = format_device_key({0x0A01, 0xFB2F, 0xC0C0, 0x0001});
    EXPECT_EQ(key, R"(<pciid vid="fb2f" did="0a01" sdid="0001" svid="c0c0" />)");
    EXPECT_EQ(key.size(), 55u);
}

// What the scanner would find there: the key as the line's lowercase form has it.
TEST(DeviceKey, IsReadWhereTheLinesLowercaseFormHoldsIt) {
    struct KeyCase {
        std::string name;
        std::string line;
        std::size_t at;
        std::optional<DeviceId> id;
    };
    const DeviceId device{0x0a01, 0xfb2f, 0xfb2f, 0x0001};
    const auto broken = [](std::size_t at, char c) {
        std::string line = kKeyLine;
        line[at] = c;
        return line;
    };
    const std::vector<KeyCase> cases = {
        {"the key", kKeyLine, 0, device},
        {"after an indent and before more", "  " + kKeyLine + "<mac>", 2, device},
        {"every letter in capitals", R"(<PCIID VID="FB2F" DID="0A01" SDID="0001" SVID="FB2F" />)",
         0, device},
        {"digits in the sdid field, svid after it",
         R"(<pciid vid="0001" did="0002" sdid="0003" svid="0004" />)", 0,
         DeviceId{0x0002, 0x0001, 0x0004, 0x0003}},
        {"one short", kKeyLine.substr(0, 54), 0, std::nullopt},
        {"past the line's end", kKeyLine, 56, std::nullopt},
        {"not where the key begins", " " + kKeyLine, 0, std::nullopt},
        {"a changed letter in the first stretch", broken(3, 'x'), 0, std::nullopt},
        {"in the second", broken(18, 'x'), 0, std::nullopt},
        {"in the third", broken(29, 'x'), 0, std::nullopt},
        {"in the fourth", broken(41, 'x'), 0, std::nullopt},
        {"in the last", broken(53, '>'), 0, std::nullopt},
        {"a vid digit that is not hex", broken(12, 'g'), 0, std::nullopt},
        {"a did digit", broken(26, ' '), 0, std::nullopt},
        {"an sdid digit", broken(35, '/'), 0, std::nullopt},
        {"an svid digit", broken(50, ':'), 0, std::nullopt},
    };
    for (const KeyCase& c : cases) {
        const std::optional<DeviceId> id = device_key_at(c.line, c.at);
        ASSERT_EQ(id.has_value(), c.id.has_value()) << c.name;
        if (id) {
            EXPECT_EQ(format_device_key(*id), format_device_key(*c.id)) << c.name;
        }
    }
}

TEST(GetXmlData, ReadsTheEntryAsTheScannerDefinesIt) {
    const std::string entry = kKeyLine +
                              "\n<mac>0a0b</mac>\n<phy>0c</phy>\n<exprom>False</exprom>\n"
                              "<image>base.fwb</image>\n";
    const std::string longLine(3000, ' ');
    const std::vector<LookupCase> cases = {
        {"entry over several lines",
         "<devices>\n" + entry + "</devices>\n",
         {PROVKIT_OK, "0a0b", "0c", "base.fwb", 0}},
        {"uppercase hex digits match",
         R"(<pciid vid="FB2F" did="0A01" sdid="0001" svid="FB2F" /><image>u</image>)",
         {PROVKIT_OK, "", "", "u", 1}},
        {"uppercase tag name is no key line",
         R"(<PCIID VID="fb2f" did="0a01" sdid="0001" svid="fb2f" /><image>u</image>)",
         {PROVKIT_ERR_DATA, "", "", "", 1}},
        {"two blanks",
         R"(<pciid vid="fb2f"  did="0a01" sdid="0001" svid="fb2f" /><image>u<)",
         {PROVKIT_ERR_DATA, "", "", "", 1}},
        {"other order",
         R"(<pciid vid="fb2f" sdid="0001" did="0a01" svid="fb2f" /><image>u<)",
         {PROVKIT_ERR_DATA, "", "", "", 1}},
        {"no blank before />",
         R"(<pciid vid="fb2f" did="0a01" sdid="0001" svid="fb2f"/><image>u<)",
         {PROVKIT_ERR_DATA, "", "", "", 1}},
        {"single quotes",
         R"(<pciid vid='fb2f' did='0a01' sdid='0001' svid='fb2f' /><image>u<)",
         {PROVKIT_ERR_DATA, "", "", "", 1}},
        {"all tags on the key line",
         kKeyLine + "<mac>01</mac><phy>02</phy><exprom>True</exprom><image>one</image>\n",
         {PROVKIT_OK, "01", "02", "one", 1}},
        {"exprom lowercase true",
         kKeyLine + "<exprom>true</exprom><image>i<",
         {PROVKIT_OK, "", "", "i", 0}},
        {"exprom blank before True",
         kKeyLine + "<exprom> True</exprom><image>i<",
         {PROVKIT_OK, "", "", "i", 0}},
        {"exprom True up to the line feed",
         kKeyLine + "<exprom>True\n<image>i<",
         {PROVKIT_OK, "", "", "i", 0}},
        {"last exprom decides",
         kKeyLine + "<exprom>False<\n<exprom>True<\n<image>i<",
         {PROVKIT_OK, "", "", "i", 1}},
        {"entry runs into the next device's lines",
         kKeyLine + "<mac>aa</mac>\n" + kOtherKeyLine + "\n<phy>bb</phy>\n<image>next</image>\n",
         {PROVKIT_OK, "aa", "bb", "next", 1}},
        {"no image at all", kKeyLine + "\n<mac>aa</mac>\n", {PROVKIT_OK, "aa", "", "", 1}},
        {"tags before the entry are not read",
         "<mac>ff</mac>\n" + kKeyLine + "<image>i<",
         {PROVKIT_OK, "", "", "i", 1}},
        {"value without a less-than sign keeps its line feed",
         kKeyLine + "\n<mac>0a0b\n<image>base.fwb\n",
         {PROVKIT_OK, "0a0b\n", "", "base.fwb\n", 1}},
        {"empty value closed by < keeps the earlier one",
         kKeyLine + "\n<mac>0a0b</mac>\n<mac></mac>\n<image>i<",
         {PROVKIT_OK, "0a0b", "", "i", 1}},
        {"a later shorter value replaces the earlier whole",
         kKeyLine + "\n<mac>0a0b0c</mac>\n<mac>ff</mac>\n<image>i<",
         {PROVKIT_OK, "ff", "", "i", 1}},
        {"a tag repeated on one line: the first counts",
         kKeyLine + "\n<mac>0a0b</mac><mac>0c0d0e</mac>\n<image>i<",
         {PROVKIT_OK, "0a0b", "", "i", 1}},
        {"an empty value at the end of the file empties the earlier one",
         kKeyLine + "\n<mac>0a0b</mac>\n<mac>",
         {PROVKIT_OK, "", "", "", 1}},
        {"carriage returns dropped",
         kKeyLine + "\r\n<image>base.fwb\r\n",
         {PROVKIT_OK, "", "", "base.fwb\n", 1}},
        {"key past 1023 characters of a long line",
         longLine + kKeyLine + "<image>far<\n",
         {PROVKIT_OK, "", "", "far", 1}},
        {"one line for two devices gives each its own values",
         kOtherKeyLine + "<mac>aa</mac><phy>bb</phy><exprom>True</exprom><image>other</image>" +
             kKeyLine + "<mac>0a0b</mac><phy>0c</phy><exprom>False</exprom><image>mine</image>\n",
         {PROVKIT_OK, "0a0b", "0c", "mine", 0}},
        {"a carriage-return-only file is one line",
         kOtherKeyLine + "\r<mac>aa</mac>\r<image>other</image>\r" + kKeyLine +
             "\r<phy>0c</phy>\r<image>mine</image>\r",
         {PROVKIT_OK, "", "0c", "mine", 1}},
        {"tags before the key on its line are not read",
         "<mac>ff</mac><image>early</image>" + kKeyLine + "\n<image>late<",
         {PROVKIT_OK, "", "", "late", 1}},
        {"the key line read from the key's first occurrence",
         kKeyLine + "<mac>01<" + kKeyLine + "<phy>02<image>i<",
         {PROVKIT_OK, "01", "02", "i", 1}},
        {"a later line is read whole, another device's key and all",
         kKeyLine + "\n<phy>bb</phy>" + kOtherKeyLine + "<mac>aa</mac><image>next<\n",
         {PROVKIT_OK, "aa", "bb", "next", 1}},
        {"the key found in uppercase hex is cut after on the line as written",
         R"(<mac>ff<pciid vid="FB2F" did="0A01" sdid="0001" svid="FB2F" /><mac>0a<image>u<)",
         {PROVKIT_OK, "0a", "", "u", 1}},
        {"image name longer than 255 kept whole",
         kKeyLine + "<image>" + std::string(300, 'n') + "<",
         {PROVKIT_OK, "", "", std::string(300, 'n'), 1}},
    };
    for (const LookupCase& c : cases) {
        EXPECT_EQ(look_up(c.content), c.expected) << c.name;
    }
}

TEST(GetXmlData, AFileThatCannotBeOpenedIs67WithTheSystemsReason) {
    const Result<EntryValues> values = get_xml_data(kKeyLine, "/nonexistent/update.xml");
    ASSERT_FALSE(values);
    EXPECT_EQ(values.error().status, PROVKIT_ERR_FILE);
    EXPECT_EQ(values.error().check, Check::update_data_unreadable);
    EXPECT_EQ(values.error().path, "/nonexistent/update.xml");
    EXPECT_TRUE(values.error().reason.missing());
}

// The digest a run records of its update data is of the bytes it read, found or
// not: the whole file, read once.
TEST(GetXmlData, TakesTheDigestOfTheBytesItReadToTheEnd) {
    TempDir dir;
    const std::vector<std::string> contents = {
        kKeyLine + "<image>first</image>\n<mac>after the entry</mac>\n",
        "<mac>no entry at all</mac>\n",
        std::string(70000, 'x') + "\n" + kKeyLine + "<image>far</image>",
    };
    for (const std::string& content : contents) {
        write_file(dir / "update.xml", content);
        std::optional<DigestValue> digest;
        (void)get_xml_data(kKeyLine, utf8_of(dir / "update.xml"), &digest);
        ASSERT_TRUE(digest.has_value());
        EXPECT_EQ(std::string(digest->begin(), digest->end()), sha256(content));
        UpdateDataCheck check;
        ASSERT_TRUE(check_update_data(utf8_of(dir / "update.xml"), check, {.digest = true}));
        EXPECT_EQ(check.fileDigest, digest);
    }
}
