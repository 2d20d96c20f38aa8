// End to end, the modes beside the six-argument run: --all, --json, --record,
// --dry-run and the options themselves, each against what the plain run prints
// and writes.
#include "tests/app/json_checks.h"
#include "tests/support/process.h"
#include "tests/support/test_support.h"

#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct Device {
    std::string vid, did, svid, ssid;
    std::string name() const { return vid + "-" + did + "-" + svid + "-" + ssid; }
    std::string file() const { return name() + ".fwb"; }
    std::vector<std::string> args(std::string_view updateData, std::string_view output) const {
        return {vid, did, svid, ssid, std::string(updateData), std::string(output)};
    }
};

const std::vector<Device> kExampleDevices = {{"fb2f", "0a01", "fb2f", "0001"},
                                             {"fb2f", "0a02", "fb2f", "0010"},
                                             {"fb2f", "0a02", "fb2f", "0011"},
                                             {"fb2f", "0a03", "fb30", "0001"}};

std::string entry(const Device& d, std::string_view mac, std::string_view image) {
    return "<device>\n<pciid vid=\"" + d.vid + "\" did=\"" + d.did + "\" sdid=\"" + d.ssid +
           "\" svid=\"" + d.svid + "\" />\n<mac>" + std::string(mac) +
           "</mac>\n<phy>d0d1</phy>\n<exprom>False</exprom>\n<image>" + std::string(image) +
           "</image>\n</device>\n";
}

// What --all puts between its directory and an image's name: the system's own separator.
const std::string kSeparator = kOnWindows ? "\\" : "/";

std::string hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const char c : bytes) {
        text += kDigits[static_cast<unsigned char>(c) >> 4];
        text += kDigits[static_cast<unsigned char>(c) & 0xf];
    }
    return text;
}

std::string sha_hex_of(const fs::path& path) {
    return hex(sha256(read_file(path)));
}

// Every file under dir with its bytes, so that a run that changes nothing can be shown to.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(dir)) {
        files[fs::relative(item.path(), dir).string()] =
            item.is_regular_file() ? read_file(item.path()) : "(directory)";
    }
    return files;
}

std::string joined_lines(const json& messages) {
    std::string text;
    for (const json& line : messages) {
        text += line.get<std::string>() + "\n";
    }
    return text;
}

class Fwbforge2Modes : public testing::Test {
  protected:
    void SetUp() override {
        fs::copy_file(fs::path(EXAMPLES_DIR) / "update-data.xml", dir / "update-data.xml");
        fs::copy_file(fs::path(EXAMPLES_DIR) / "example-base.fwb", dir / "example-base.fwb");
    }

    RunResult run(const std::vector<std::string>& args, const RunOptions& options = {}) const {
        return run_program(dir.path(), FWBFORGE2_PATH, args, options);
    }

    TempDir dir;
};

struct BatchCase {
    std::string name;
    std::string updateData; // empty: the example's
    std::vector<Device> devices;
    int status;
};

// Each device's lines and image are those of its six-argument run into the
// same path; the manifest holds each image's facts and is written last.
TEST_F(Fwbforge2Modes, AllWritesEveryListedDeviceAsItsSixArgumentRunDoes) {
    const Device good = {"fb2f", "0b01", "fb2f", "0001"};
    const Device noBase = {"fb2f", "0b02", "fb2f", "0001"};
    const Device oddMac = {"fb2f", "0b03", "fb2f", "0001"};
    const Device last = {"fb2f", "0b04", "fb2f", "0001"};
    const std::vector<BatchCase> cases = {
        {"the example", "", kExampleDevices, 0},
        {"failing devices inside a batch",
         entry(good, "0a0b", "example-base.fwb") + entry(noBase, "0a0b", "gone.fwb") +
             entry(oddMac, "0a0", "example-base.fwb") + entry(last, "", "example-base.fwb") +
             entry(good, "ffff", "example-base.fwb"),
         {good, noBase, oddMac, last},
         67},
    };
    const std::string baseSha = sha_hex_of(dir / "example-base.fwb");
    for (const BatchCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.updateData.empty()) {
            write_file(dir / "update-data.xml", c.updateData);
        }
        fs::remove_all(dir / "out");
        fs::create_directory(dir / "out");
        std::string expectedOut;
        std::string failed;
        std::map<std::string, RunResult> single;
        std::map<std::string, std::string> images;
        for (const Device& d : c.devices) {
            const RunResult r = run(d.args("update-data.xml", "out" + kSeparator + d.file()));
            expectedOut += "Device        :" + d.name() + "\n" + r.out;
            single[d.file()] = r;
            if (r.status == 0) {
                images[d.file()] = read_file(dir / "out" / d.file());
            } else {
                failed += "Failed        :" + d.name() + "\n";
            }
        }
        fs::remove_all(dir / "out");
        const RunResult all = run({"--all", "update-data.xml", "out"});
        EXPECT_EQ(all.out, expectedOut + "Manifest written  out" + kSeparator + "manifest.json\n" +
                               std::to_string(images.size()) + " written, " +
                               std::to_string(c.devices.size() - images.size()) + " failed\n" +
                               failed);
        EXPECT_EQ(all.status, c.status);
        EXPECT_EQ(all.err, "");
        std::vector<std::string> expectedFiles = {"manifest.json"};
        for (const auto& [name, bytes] : images) {
            EXPECT_TRUE(read_file(dir / "out" / name) == bytes) << name;
            expectedFiles.push_back(name);
        }
        std::sort(expectedFiles.begin(), expectedFiles.end());
        std::vector<std::string> files;
        for (const auto& item : fs::directory_iterator(dir / "out")) {
            files.push_back(item.path().filename().string());
        }
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, expectedFiles) << "a temporary file was left, or an image is missing";

        const json manifest = json::parse(read_file(dir / "out" / "manifest.json"));
        EXPECT_EQ(manifest["status"], c.status);
        EXPECT_EQ(manifest["update_data"]["sha256"], sha_hex_of(dir / "update-data.xml"));
        ASSERT_EQ(manifest["devices"].size(), c.devices.size());
        for (std::size_t i = 0; i < c.devices.size(); ++i) {
            const json& device = manifest["devices"][i];
            const std::string name = c.devices[i].file();
            EXPECT_EQ(device["did"], c.devices[i].did);
            EXPECT_EQ(device["status"], single[name].status) << name;
            if (single[name].status == 0) {
                EXPECT_EQ(device["file"], name);
                EXPECT_EQ(device["sha256"], hex(sha256(images[name]))) << name;
                EXPECT_EQ(device["length"], images[name].size());
                EXPECT_EQ(device["base_sha256"], baseSha);
            } else {
                EXPECT_EQ(joined_lines(device["messages"]), single[name].out) << name;
            }
        }
    }
}

// Killed while a batch writes, it leaves the images already reported and no temporary file.
TEST_F(Fwbforge2Modes, ATerminatedBatchLeavesNoTemporaryFile) {
    if (kOnWindows) {
        GTEST_SKIP() << "signals are POSIX's, and wine passes no console's Ctrl-Break to a child";
    }
    write_file(dir / "big.fwb", make_image({16 << 20, 0x2000, 0x400, 2}));
    std::string updateData;
    for (int i = 0; i < 96; ++i) {
        const Device d = {"fb2f", std::to_string(1000 + i), "fb2f", "0001"};
        updateData += entry(d, "0a0b", "big.fwb");
    }
    write_file(dir / "many.xml", updateData);
    process::Process batch({FWBFORGE2_PATH, {"--all", "many.xml", "out"}, dir.path().string()});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    batch.send(process::Signal::terminate);
    const RunResult r = batch.wait();
    if (r.status == 0) {
        GTEST_SKIP() << "the batch ended before the signal";
    }
    EXPECT_EQ(r.status, 128 + 15);
    for (const auto& item :
         fs::exists(dir / "out") ? fs::directory_iterator(dir / "out") : fs::directory_iterator()) {
        const std::string name = item.path().filename().string();
        EXPECT_NE(r.out.find("Custom fwb generated  out/" + name + "\n"), std::string::npos)
            << name << " was left but not reported";
    }
}

struct JsonCase {
    std::string name;
    std::vector<std::string> args;
    bool dryRun;
    int status;
};

// The object names the run's facts; its messages are the lines the plain run prints.
TEST_F(Fwbforge2Modes, JsonIsTheRunsFactsAndMatchesWhatItWrote) {
    write_file(dir / "no-base.xml", entry(kExampleDevices[0], "0a0b", "gone.fwb"));
    const std::vector<JsonCase> cases = {
        {"written", kExampleDevices[2].args("update-data.xml", "out.fwb"), false, 0},
        {"a dry run", kExampleDevices[2].args("update-data.xml", "out.fwb"), true, 0},
        {"no entry", {"fb2f", "0a01", "fb2f", "0999", "update-data.xml", "out.fwb"}, false, 69},
        {"no base", kExampleDevices[0].args("no-base.xml", "out.fwb"), false, 67},
        {"refused identifier",
         {"18086", "0a01", "fb2f", "0001", "update-data.xml", "out.fwb"},
         false,
         1},
    };
    for (const JsonCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(dir / "out.fwb");
        std::vector<std::string> args = c.args;
        args.insert(args.begin() + 2, "--json");
        if (c.dryRun) {
            args.push_back("--dry-run");
        }
        const RunResult r = run(args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(fs::exists(dir / "out.fwb"), c.status == 0 && !c.dryRun);
        const RunResult plain = run(c.args);
        const json facts = json::parse(r.out);
        EXPECT_EQ(facts["status"], c.status);
        EXPECT_EQ(facts["dry_run"], c.dryRun);
        EXPECT_EQ(head_of(r.out),
                  (std::vector<std::string>{"1", "run", "fwbforge2", FWBFORGE2_VERSION}));
        EXPECT_FALSE(facts.contains("time")) << "only a record line is stamped";
        EXPECT_EQ(facts["output"]["path"], "out.fwb");
        if (c.status != 0) {
            EXPECT_EQ(joined_lines(facts["messages"]), plain.out);
            EXPECT_TRUE(facts["output"]["sha256"].is_null());
            continue;
        }
        EXPECT_FALSE(facts.contains("messages"));
        EXPECT_EQ(facts["did"], "0a02");
        EXPECT_EQ(facts["update_data"]["sha256"], sha_hex_of(dir / "update-data.xml"));
        EXPECT_EQ(facts["image_name"], "example-base.fwb");
        EXPECT_EQ(facts["base"]["sha256"], sha_hex_of(dir / "example-base.fwb"));
        EXPECT_EQ(facts["base"]["verified"], true);
        EXPECT_EQ(facts["output"]["length"], fs::file_size(dir / "out.fwb"));
        EXPECT_EQ(facts["output"]["sha256"], sha_hex_of(dir / "out.fwb"));
        EXPECT_EQ(facts["mac_length"], 32);
        EXPECT_EQ(facts["phy_length"], 24);
        EXPECT_EQ(facts["exprom"], 0);
    }
    const RunResult all = run({"--json", "--all", "update-data.xml", "batch"});
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(all.out, read_file(dir / "batch" / "manifest.json"));

    // A manifest that cannot be written, or would replace what the run reads, is refused.
    fs::create_directories(dir / "taken" / "manifest.json");
    fs::create_directory(dir / "inputs");
    fs::copy_file(dir / "update-data.xml", dir / "inputs" / "manifest.json");
    for (const std::string outdir : {"taken", "inputs"}) {
        const std::string manifest = outdir + kSeparator + "manifest.json";
        const std::string updateData = outdir == "inputs" ? manifest : "update-data.xml";
        const RunResult refused = run({"--json", "--all", updateData, outdir});
        EXPECT_EQ(refused.status, 67) << outdir;
        const json facts = json::parse(refused.out);
        EXPECT_EQ(facts["status"], 67) << outdir;
        EXPECT_EQ(joined_lines(facts["messages"]), "Unable to write manifest " + manifest + "\n");
        EXPECT_EQ(run({"--dry-run", "--all", updateData, outdir}).status, 67) << outdir;
    }
    EXPECT_EQ(read_file(dir / "inputs" / "manifest.json"), read_file(dir / "update-data.xml"));
}

// Runs at once append whole lines; failed runs and batches' devices are recorded too.
TEST_F(Fwbforge2Modes, SixteenRecordedRunsAtOnceLoseNoLine) {
    std::vector<std::thread> runs;
    std::vector<RunResult> results(16);
    for (std::size_t i = 0; i < results.size(); ++i) {
        runs.emplace_back([&, i] {
            const Device& d = kExampleDevices[i % kExampleDevices.size()];
            const std::string ssid = i % 5 == 4 ? "0999" : d.ssid;
            results[i] = run({"--record", "runs.jsonl", d.vid, d.did, d.svid, ssid,
                              "update-data.xml", "out-" + std::to_string(i) + ".fwb"},
                             {.umask = 027});
        });
    }
    for (std::thread& run : runs) {
        run.join();
    }
    std::map<std::string, int> statusOf;
    for (std::size_t i = 0; i < results.size(); ++i) {
        // A device with no entry is explained on standard error.
        EXPECT_EQ(results[i].err.empty(), i % 5 != 4) << results[i].err;
        EXPECT_EQ(results[i].out.find('{'), std::string::npos) << "stdout changed";
        statusOf["out-" + std::to_string(i) + ".fwb"] = results[i].status;
    }
    const std::vector<std::string> lines = [&] {
        std::vector<std::string> split;
        std::string text = read_file(dir / "runs.jsonl");
        for (std::size_t end; (end = text.find('\n')) != std::string::npos;) {
            split.push_back(text.substr(0, end));
            text.erase(0, end + 1);
        }
        EXPECT_EQ(text, "") << "a line without its line feed";
        return split;
    }();
    ASSERT_EQ(lines.size(), results.size());
    for (const std::string& line : lines) {
        const json facts = json::parse(line);
        const std::string output = facts["output"]["path"];
        EXPECT_EQ(facts["status"], statusOf[output]) << output;
        EXPECT_EQ(head_of(line)[1], "run");
        const std::regex utc("20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-6][0-9]Z");
        EXPECT_TRUE(std::regex_match(facts["time"].get<std::string>(), utc)) << facts["time"];
        EXPECT_FALSE(facts["host"].get<std::string>().empty());
        EXPECT_FALSE(facts["user"].get<std::string>().empty());
        statusOf.erase(output);
        if (facts["status"] == 0) {
            EXPECT_EQ(facts["output"]["sha256"], sha_hex_of(dir / output));
        }
    }
    EXPECT_TRUE(statusOf.empty()) << "a run has two lines, another none";
    if (!kOnWindows) {
        EXPECT_EQ(fs::status(dir / "runs.jsonl").permissions() & fs::perms::mask, fs::perms(0640));
    }

    const RunResult all = run({"--all", "update-data.xml", "batch", "--record", "runs.jsonl"});
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(std::count(all.out.begin(), all.out.end(), '{'), 0);
    const std::string text = read_file(dir / "runs.jsonl");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 16 + 4);
}

struct DryRunCase {
    std::string name;
    std::vector<std::string> args;
};

// Standard output and status are the real run's but for the closing lines,
// which name the output and the digest the real run's output then has.
TEST_F(Fwbforge2Modes, ADryRunChecksAsTheRunDoesAndChangesNothing) {
    write_file(dir / "replaced.fwb", "previous image");
    write_file(dir / "small.fwb", make_image({9000, 7000, 288 + 4 + 3, 1}));
    write_file(dir / "small.xml", entry(kExampleDevices[0], "0a0b", "small.fwb"));
    fs::create_directory(dir / "folder.fwb");
    const std::vector<DryRunCase> cases = {
        {"a new output", kExampleDevices[0].args("update-data.xml", "new.fwb")},
        {"a replaced output", kExampleDevices[3].args("update-data.xml", "replaced.fwb")},
        {"no entry", {"fb2f", "0a01", "fb2f", "0999", "update-data.xml", "new.fwb"}},
        {"a region too small", kExampleDevices[0].args("small.xml", "new.fwb")},
        {"the base as output", kExampleDevices[0].args("update-data.xml", "example-base.fwb")},
        {"a directory as output", kExampleDevices[0].args("update-data.xml", "folder.fwb")},
        {"a missing directory", kExampleDevices[0].args("update-data.xml", "no/dir/new.fwb")},
        {"every device", {"--all", "update-data.xml", "new"}},
        {"every device, into a directory that cannot be made",
         {"--all", "update-data.xml", "new/dir"}},
    };
    for (const DryRunCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::map<std::string, std::string> before = snapshot(dir.path());
        std::vector<std::string> args = c.args;
        args.push_back("--dry-run");
        const RunResult dry = run(args);
        EXPECT_EQ(snapshot(dir.path()), before);
        const RunResult real = run(c.args);
        EXPECT_EQ(dry.status, real.status);
        EXPECT_EQ(dry.err, real.err);
        std::string expected;
        for (std::size_t at = 0, end; (end = real.out.find('\n', at)) != std::string::npos;
             at = end + 1) {
            std::string line = real.out.substr(at, end - at + 1);
            for (const std::string closing : {"Custom fwb generated  ", "Manifest written  "}) {
                if (line.starts_with(closing)) {
                    const std::string path =
                        line.substr(closing.size(), line.size() - 1 - closing.size());
                    line = "Dry run: would write " + path +
                           "\nsha256        :" + sha_hex_of(dir / path) + "\n";
                }
            }
            if (line.find(" written, ") != std::string::npos) {
                line.replace(line.find(" written, "), 10, " would be written, ");
            }
            expected += line;
        }
        EXPECT_EQ(dry.out, expected);
        fs::remove_all(dir / "new");
        fs::remove(dir / "new.fwb");
        write_file(dir / "replaced.fwb", "previous image");
    }
}

struct OptionCase {
    std::vector<std::string> args;
    std::string out; // what stdout starts with
    int status;
};

TEST_F(Fwbforge2Modes, OptionsStandAnywhereUntilTheirEndAndUnknownOnesAreRefused) {
    const std::string usage = "Usage:: fwbforge2 VID DID SVID SSID updatedata.xml output.fwb\n";
    const std::string written = "exprom        :1\n";
    const std::vector<OptionCase> cases = {
        {{"--version"}, "fwbforge2 " FWBFORGE2_VERSION "\n", 0},
        {{"fb2f", "--help"}, usage + "        fwbforge2 --all", 0},
        {{"--verbose", "fb2f", "0a01", "fb2f", "0001", "update-data.xml", "out.fwb"}, usage, 1},
        {{"fb2f", "0a01", "fb2f", "0001", "update-data.xml", "out.fwb", "--jsn"}, usage, 1},
        {{"fb2f", "0a01", "--dry-run", "fb2f", "0001", "update-data.xml", "out.fwb"}, written, 0},
        {{"fb2f", "0a01", "fb2f", "0001", "--", "update-data.xml", "--json"}, written, 0},
        {{"fb2f", "0a01", "fb2f", "0001", "update-data.xml", "--record"}, usage, 1},
        {{"fb2f", "0a01", "fb2f", "0001", "update-data.xml", "o.fwb", "--record", "--dry-run"},
         usage,
         1},
        {{"fb2f", "0a01", "fb2f", "0001", "update-data.xml", "o.fwb", "--record", "a", "--record",
          "b"},
         usage,
         1},
        {{"--all", "update-data.xml"}, "Usage:: fwbforge2 --all updatedata.xml outdir\n", 1},
    };
    for (const OptionCase& c : cases) {
        const RunResult r = run(c.args);
        EXPECT_TRUE(r.out.starts_with(c.out)) << c.args[0] << " " << c.args.back() << ": " << r.out;
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args.back();
    }
    const RunResult help = run({"--help"});
    for (const std::string option :
         {"--all", "--json", "--record", "--dry-run", "--version", "--"}) {
        EXPECT_NE(help.out.find("  " + option + " "), std::string::npos) << option;
    }
    EXPECT_TRUE(fs::exists(dir / "--json"));
    EXPECT_FALSE(fs::exists(dir / "out.fwb")) << "a dry run wrote";
}

} // namespace
